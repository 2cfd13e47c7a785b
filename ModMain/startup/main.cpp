#include "ModMain/startup/FirstLoad_Main.h"
#include "platform/process.h"

int main() {
  fl::PrepareProcess();
  fl::EndProcess(fl::FirstLoad_Main());
}
