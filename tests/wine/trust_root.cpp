// Puts the certificate on standard input (PEM or DER) into the current
// user's Root store, for whole runs under Wine: WinINet takes no authority
// file and trusts that store, so this is how the tests' authority becomes
// trusted. Adding it again replaces it.
#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

int main() {
  std::string input;
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &n, nullptr) && n > 0) {
    input.append(buffer, n);
  }
  // CRYPT_STRING_ANY would take DER for base64 and decode rubbish from it.
  std::vector<BYTE> der(input.begin(), input.end());
  DWORD size = static_cast<DWORD>(der.size());
  if (input.rfind("-----BEGIN", 0) == 0 &&
      !CryptStringToBinaryA(input.data(), size, CRYPT_STRING_BASE64HEADER, der.data(), &size,
                            nullptr, nullptr)) {
    std::fprintf(stderr, "trust_root: the PEM on standard input did not decode\n");
    return 2;
  }
  HCERTSTORE root =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  if (root == nullptr) {
    std::fprintf(stderr, "trust_root: the Root store did not open (%lu)\n", GetLastError());
    return 1;
  }
  const BOOL added = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), size,
                                                      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD error = GetLastError();
  CertCloseStore(root, 0);
  if (!added) {
    std::fprintf(stderr, "trust_root: the certificate was not added (%lu)\n", error);
    return 1;
  }
  return 0;
}
