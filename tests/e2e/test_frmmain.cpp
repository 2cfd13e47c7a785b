// The web form in process: the address it asks, and how its two browser
// events hand the outcome over in WebRet.
#include "ModMain/ModMain.h"
#include "frmmain/frmmain.h"
#include "platform/app.h"
#include "platform/events.h"
#include "tests/e2e/Harness.h"

namespace fl {
namespace {

using namespace test::e2e;

// Runs events until the browser has nothing more to deliver.
void Settle() {
  for (int i = 0; i < 2000 && (EventSourcesActive() || EventsPending()); ++i) {
    DoEvents();
    if (EventSourcesActive() && !EventsPending()) WaitForEvents();
  }
}

class WebForm : public ::testing::Test {
 protected:
  void TearDown() override { frmmain::Unload(); }
  test::AppFolderScope app_;
};

TEST_F(WebForm, AsksTheServiceWithTheQueryAsGiven) {
  Service service("ok", app_.Dir() / "service.log");
  struct Case {
    Text details;
    const char* request;
  } cases[] = {
      {u"", "/Features.aspx?"},
      {u"&APPCODE=680570080&FeatureName=790", "/Features.aspx?&APPCODE=680570080&FeatureName=790"},
  };
  for (const auto& c : cases) {
    fs::remove(app_.Dir() / "service.log");
    WebRet.clear();
    frmmain::GetWebRetForFeatures(c.details);
    Settle();
    std::ifstream log(app_.Dir() / "service.log");
    std::string line;
    std::getline(log, line);
    EXPECT_EQ(line, c.request);
    EXPECT_FALSE(WebRet.empty());
  }
  EXPECT_TRUE(app_.LogLines().empty());
}

TEST_F(WebForm, HandOverFollowsTheStateTable) {
  struct Case {
    const char* name;
    const char* answer;
    Text before;
    Text after;  // empty: the page's list
  } cases[] = {
      {"payload replaces anything but the marker", "list:a/b", u"old list", u"a/b"},
      {"the marker stays", "list:a/b", u"ERROR", u"ERROR"},
      {"lower case is no marker", "list:a/b", u"error", u"a/b"},
      {"no form", "noform", u"", u"ERROR"},
      {"empty field", "empty", u"", u"ERROR"},
      {"field holding the marker", "error", u"", u"ERROR"},
      {"service error", "status:404", u"x", u"ERROR"},
  };
  for (const auto& c : cases) {
    Service service(c.answer, app_.Dir() / "service.log");
    WebRet.clear();
    frmmain::GetWebRetForFeatures(u"&q=1");
    WebRet = c.before;
    Settle();
    EXPECT_EQ(test::U8(WebRet), test::U8(c.after)) << c.name;
  }
  // A navigation failure after a payload was handed over replaces it.
  WebRet = u"a/b";
  frmmain::Myweb_NavigateError();
  EXPECT_EQ(WebRet, u"ERROR");
  EXPECT_TRUE(app_.LogLines().empty());
}

TEST_F(WebForm, NavigationThatCannotStartFailsAsAnyNavigation) {
  // No module beside this program's copy: the HTTP stack cannot load.
  TempDir bare;
  // The link's target: an emulator shows the program's own, but reads none.
  fs::copy_file(fs::read_symlink("/proc/self/exe"), bare / "firstload_e2e_tests");
  Outcome run = RunProgram(Emulated({(bare / "firstload_e2e_tests").string(),
                                     "--gtest_filter=WebForm.NavigateWithoutModuleChild"}));
  EXPECT_EQ(run.status, 0) << run.err;
}

// Run only by the test above, from a folder without the HTTP module.
TEST_F(WebForm, NavigateWithoutModuleChild) {
  if (fs::exists(fs::path(test::U8(fl::AppFolder())) / "libFirstLoadHttp.so")) GTEST_SKIP();
  WebRet.clear();
  frmmain::GetWebRetForFeatures(u"");
  Settle();
  EXPECT_EQ(WebRet, u"ERROR");
  EXPECT_FALSE(EventSourcesActive());
  EXPECT_TRUE(app_.LogLines().empty());
}

}  // namespace
}  // namespace fl
