// Shared fixture of the record store tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "ModMain/recordfile/FileReadWrite.h"
#include "platform/codepage.h"
#include "platform/failure.h"
#include "tests/TestSupport.h"

namespace fl {

using test::AppFolderScope;
using test::ReadBytes;
using test::RecordBytes;
using test::WriteBytes;
namespace fs = std::filesystem;

// One call's arguments, with the defaults the callers use.
struct Call {
  explicit Call(Text p) : path(std::move(p)) {}

  Text path;
  VBool encrypted = kFalse;
  std::int16_t lastCol = 2;
  Text key;
  Text mode;
  TextArray rec = TextArray(3);
  Text colList;
  FeatureGrid* grid = nullptr;
  Text primaryKey = u"0";
  Text header = u"unchanged";

  VBool Run() {
    return FileReadWrite(path, encrypted, lastCol, key, mode, rec, colList, grid, primaryKey,
                         header);
  }
};

class RecordFile : public ::testing::Test {
 protected:
  void SetUp() override { SetAnsiCodePage(1252); }
  Text File(const std::string& name) const { return app.Dir().File(name); }
  fs::path Path(const std::string& name) const { return app.Dir() / name; }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(app.Dir().Path()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  AppFolderScope app;
};

}  // namespace fl
