#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "platform/named_object.h"
#include "platform/shared_area.h"
#include "platform/sync.h"
#include "platform/window_object.h"
#include "tests/support/isolation.h"
#include "tests/support/peer_process.h"

namespace {

using namespace platform;

class NamedObjectTest : public IsolatedTest {
 protected:
  bool fileExists(const std::string& name) { return std::filesystem::exists(objectFile(name)); }
};

TEST_F(NamedObjectTest, LastHandleRemovesTheObject) {
  bool existed = true;
  SharedArea* first = CreateSharedArea("Area", 65536, &existed);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(existed);
  SharedArea* second = CreateSharedArea("Area", 65536, &existed);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(existed);
  SharedAreaView(first)[100] = 42;
  EXPECT_EQ(SharedAreaView(second)[100], 42) << "both handles see one area";

  CloseSharedArea(first);
  EXPECT_TRUE(fileExists("Area"));
  SharedArea* third = OpenSharedArea("Area");
  ASSERT_NE(third, nullptr);
  CloseSharedArea(second);
  CloseSharedArea(third);
  EXPECT_FALSE(fileExists("Area"));
  EXPECT_EQ(OpenSharedArea("Area"), nullptr);
}

TEST_F(NamedObjectTest, ANamespaceLockThatIsNeverLetGoFailsTheOperationInsteadOfHanging) {
  Event* before = CreateNamedEvent("Before", true, false, nullptr);
  ASSERT_NE(before, nullptr);
  // Another holder of the namespace lock that never lets go (a process stopped while it held
  // it): operations give up after their budget.
  int holder = open((ObjectDirectory() + "/.lock").c_str(), O_RDWR);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  EXPECT_EQ(CreateNamedEvent("During", true, false, nullptr), nullptr);
  EXPECT_FALSE(NamedObjectExists("Before", ObjectKind::kEvent));
  close(holder);
  Event* after = CreateNamedEvent("After", true, false, nullptr);
  EXPECT_NE(after, nullptr);
  CloseNamedEvent(after);
  CloseNamedEvent(before);
}

TEST_F(NamedObjectTest, OpenExistingCreatesNothing) {
  EXPECT_EQ(OpenSharedArea("Nobody"), nullptr);
  EXPECT_EQ(OpenNamedEvent("Nobody"), nullptr);
  EXPECT_EQ(OpenNamedMutex("Nobody"), nullptr);
  EXPECT_FALSE(WindowObjectExists("Nobody"));
  EXPECT_FALSE(std::filesystem::exists(scratch() + "/objects")) << "not even the namespace";
}

TEST_F(NamedObjectTest, ClosingDoesNotBringBackARemovedNamespace) {
  SharedArea* area = CreateSharedArea("Late", 4096, nullptr);
  ASSERT_NE(area, nullptr);
  std::filesystem::remove_all(scratch() + "/objects");
  CloseSharedArea(area);
  EXPECT_FALSE(std::filesystem::exists(scratch() + "/objects"));
}

TEST_F(NamedObjectTest, OneNamespaceForAllKinds) {
  Event* event = CreateNamedEvent("Shared", true, false, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(CreateSharedArea("Shared", 65536, nullptr), nullptr);
  EXPECT_EQ(OpenNamedMutex("Shared"), nullptr);
  EXPECT_FALSE(WindowObjectExists("Shared"));
  CloseNamedEvent(event);
}

TEST_F(NamedObjectTest, NamesBecomeSafeFileNames) {
  WindowObject* window = CreateWindowObject("../a b/.x");
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(fileExists("%2E%2E%2Fa%20b%2F%2Ex"));
  EXPECT_TRUE(WindowObjectExists("../a b/.x"));
  CloseWindowObject(window);
  EXPECT_EQ(CreateWindowObject(std::string(300, 'n').c_str()), nullptr);
  EXPECT_EQ(CreateWindowObject(""), nullptr);
}

TEST_F(NamedObjectTest, AccessForEveryoneIsGrantedOnRequest) {
  SharedArea* area = CreateSharedArea("Guarded", 4096, nullptr);
  ASSERT_NE(area, nullptr);
  struct stat st;
  ASSERT_EQ(stat(objectFile("Guarded").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(GrantEveryoneAccess("Guarded"));
  ASSERT_EQ(stat(objectFile("Guarded").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
  EXPECT_FALSE(GrantEveryoneAccess("Missing"));
  struct stat dir;
  ASSERT_EQ(stat((scratch() + "/objects").c_str(), &dir), 0);
  EXPECT_EQ(dir.st_mode & 07777, 01777u);
  CloseSharedArea(area);
}

TEST_F(NamedObjectTest, KilledCreatorLeavesNoLiveObject) {
  for (const char* kind : {"area", "event", "mutex", "window"}) {
    SCOPED_TRACE(kind);
    PeerProcess peer;
    ASSERT_TRUE(peer.start({"hold", kind, "Killed"}));
    ASSERT_TRUE(peer.expectLine("held 0"));
    EXPECT_TRUE(fileExists("Killed"));
    peer.kill(SIGKILL);
    EXPECT_EQ(peer.wait(), 128 + SIGKILL);

    EXPECT_EQ(OpenSharedArea("Killed"), nullptr);
    EXPECT_EQ(OpenNamedEvent("Killed"), nullptr);
    EXPECT_EQ(OpenNamedMutex("Killed"), nullptr);
    EXPECT_FALSE(WindowObjectExists("Killed"));
  }
  PeerProcess peer;
  ASSERT_TRUE(peer.start({"hold", "area", "Fresh"}));
  ASSERT_TRUE(peer.expectLine("held 0"));
  peer.kill(SIGKILL);
  peer.wait();
  bool existed = true;
  SharedArea* area = CreateSharedArea("Fresh", 65536, &existed);
  ASSERT_NE(area, nullptr);
  EXPECT_FALSE(existed);
  for (int i = 0; i < 65536; ++i) ASSERT_EQ(SharedAreaView(area)[i], 0) << "at " << i;
  CloseSharedArea(area);
}

TEST_F(NamedObjectTest, ObjectHeldElsewhereOutlivesItsCreator) {
  PeerProcess peer;
  ASSERT_TRUE(peer.start({"hold", "area", "Kept"}));
  ASSERT_TRUE(peer.expectLine("held 0"));
  SharedArea* area = OpenSharedArea("Kept");
  ASSERT_NE(area, nullptr);
  EXPECT_EQ(SharedAreaView(area)[0], 0x5A);
  peer.closeInput();
  EXPECT_EQ(peer.wait(), 0);

  SharedArea* again = OpenSharedArea("Kept");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(SharedAreaView(again)[15], 0x5A);
  CloseSharedArea(again);
  CloseSharedArea(area);
  EXPECT_FALSE(fileExists("Kept"));
}

}  // namespace
