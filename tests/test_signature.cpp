// Signed feature lists: pages whose lists and signatures the real minisign
// made (signed_pages.py, when the build is configured), read as a fetched
// page is read and checked against the keys built in.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/http/page.h"
#include "platform/signature.h"
#include "tests/TestSupport.h"

namespace fl {
namespace {

std::string Field(const http::Node& document, const char* name) {
  std::shared_ptr<const http::Node> form, field;
  std::string value;
  if (document.Member("Form1", &form) == http::Node::Lookup::kFound &&
      form->Member(name, &field) == http::Node::Lookup::kFound) {
    field->Value(&value);
  }
  return value;
}

TEST(SignedLists, EachCheckDecidesAsItsCaseSays) {
  const std::filesystem::path dir = FIRSTLOAD_SIGNED_DIR;
  const std::string keys = test::ReadBytes(dir / "keys.txt");
  size_t cases = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".html") continue;
    SCOPED_TRACE(entry.path().stem().string());
    const std::string expect =
        test::ReadBytes(std::filesystem::path(entry.path()).replace_extension(".expect"));
    auto document = http::ParsePage(test::ReadBytes(entry.path()), "text/html");
    const std::string list = Field(*document, "txtvalue"), signature = Field(*document, "txtsig");
    ASSERT_FALSE(list.empty());
    const std::string problem =
        ListSignatureProblem(list, signature, keys, "&APPCODE=4711&FeatureName=3");
    if (expect.empty()) {
      EXPECT_EQ(problem, "");
    } else {
      EXPECT_NE(problem.find(expect), std::string::npos) << problem;
    }
    // The key and the signature's bytes stay out of what is reported.
    const size_t line = signature.find('\n') + 1;
    if (line > 0 && signature.size() > line + 20) {
      EXPECT_EQ(problem.find(signature.substr(line, 20)), std::string::npos);
    }
    EXPECT_EQ(problem.find(keys.substr(0, 20)), std::string::npos);
    ++cases;
  }
  EXPECT_EQ(cases, 12u);
  // No keys at all trust nothing.
  EXPECT_NE(ListSignatureProblem("a", "x", "", "").find("no"), std::string::npos);
}

}  // namespace
}  // namespace fl
