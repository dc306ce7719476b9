// The named objects every run of the setup shares (instance lock, named
// mutexes, activation), against the system's own access checks.
//
// Windows gives an object made without a descriptor its creator's default
// DACL: for an elevated run, Administrators and SYSTEM, which the person's
// unelevated run (Administrators deny-only) fails. Wine gives such an
// object no DACL at all, so here that fault shows as the missing
// descriptor. The other run is a thread impersonating this process's token
// with the user, its primary group and Administrators made deny-only: what
// is left (Everyone, Authenticated Users, Users, the logon session) is what
// an unelevated run shares with an elevated creator, and it must get the
// rights a run uses and no more. That the medium label lets a real
// medium-integrity run in, and keeps a low one out, only Windows with UAC
// shows: Wine checks no integrity levels.

#include <windows.h>
// After windows.h, whose types they use.
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/activation.h"
#include "platform/named_mutex.h"
#include "platform/win32/win_util.h"

namespace platform {
namespace {

std::string uniqueName(const std::string& stem) {
  return stem + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
}

// Runs `work` on a thread of its own that impersonates the other run.
// False when the system would not make such a token.
template <typename Work>
bool runAsOtherRun(Work&& work) {
  HANDLE process = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process)) return false;
  win::UniqueHandle self(process);
  const std::vector<BYTE> user = win::processTokenInformation(TokenUser);
  const std::vector<BYTE> group = win::processTokenInformation(TokenPrimaryGroup);
  BYTE admins[SECURITY_MAX_SID_SIZE];
  DWORD adminsSize = sizeof admins;
  if (user.empty() || group.empty() ||
      !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &adminsSize)) {
    return false;
  }
  SID_AND_ATTRIBUTES denyOnly[] = {
      {reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, 0},
      {reinterpret_cast<const TOKEN_PRIMARY_GROUP*>(group.data())->PrimaryGroup, 0},
      {admins, 0}};
  HANDLE restricted = nullptr;
  if (!CreateRestrictedToken(self.get(), 0, 3, denyOnly, 0, nullptr, 0, nullptr, &restricted)) {
    return false;
  }
  win::UniqueHandle primary(restricted);
  HANDLE impersonation = nullptr;
  if (!DuplicateToken(primary.get(), SecurityImpersonation, &impersonation)) return false;
  win::UniqueHandle token(impersonation);
  bool impersonated = false;
  std::thread([&] {
    impersonated = SetThreadToken(nullptr, token.get()) != FALSE;
    if (impersonated) work();
    RevertToSelf();
  }).join();
  return impersonated;
}

// Whether the other run may open the mutex or event `name` with `access`.
bool otherRunOpens(bool mutex, const std::wstring& name, DWORD access) {
  bool opened = false;
  EXPECT_TRUE(runAsOtherRun([&] {
    win::UniqueHandle h(mutex ? OpenMutexW(access, FALSE, name.c_str())
                              : OpenEventW(access, FALSE, name.c_str()));
    opened = h.valid();
  }));
  return opened;
}

bool sameSid(PSID sid, WELL_KNOWN_SID_TYPE type) {
  BYTE known[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof known;
  return CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known);
}

// What the object's descriptor grants Authenticated Users and how it is
// labelled, read back from the system.
struct Granted {
  bool read = false;
  ACCESS_MASK authenticatedUsers = 0;
  bool labelledMediumNoWriteUp = false;
};

Granted readBack(HANDLE object) {
  Granted out;
  PACL dacl = nullptr;
  PACL sacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT,
                      DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION, nullptr, nullptr,
                      &dacl, &sacl, &descriptor) != ERROR_SUCCESS) {
    return out;
  }
  out.read = dacl != nullptr;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
    if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
        sameSid(&ace->SidStart, WinAuthenticatedUserSid)) {
      out.authenticatedUsers |= ace->Mask;
    }
  }
  for (DWORD i = 0; sacl != nullptr && i < sacl->AceCount; ++i) {
    SYSTEM_MANDATORY_LABEL_ACE* ace = nullptr;
    if (GetAce(sacl, i, reinterpret_cast<void**>(&ace)) &&
        ace->Header.AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE &&
        sameSid(&ace->SidStart, WinMediumLabelSid) &&
        ace->Mask == SYSTEM_MANDATORY_LABEL_NO_WRITE_UP) {
      out.labelledMediumNoWriteUp = true;
    }
  }
  LocalFree(descriptor);
  return out;
}

// Catches objects made with the creator's default DACL: the other run may
// neither open them for waiting and signalling, nor be denied changing
// their descriptor; and a label that keeps a medium run from signalling.
TEST(SharedObjectsWinTest, ObjectsGrantOtherRunsOnlyWhatTheyUse) {
  const std::string lockName = uniqueName("shared-lock");
  std::unique_ptr<InstanceLock> lock;
  ASSERT_EQ(InstanceLock::acquire(lockName, &lock), PlatformResult::kOk);
  const std::string cls = uniqueName("QM_UI_Frame_shared");
  auto listener = ActivationListener::listen(cls, nullptr);
  ASSERT_NE(listener, nullptr);

  const std::wstring mutexName = win::widen("Local\\websetup-" + lockName);
  const std::wstring requestName = win::widen("Local\\websetup-activate-" + cls + "-request");
  win::UniqueHandle mutex(OpenMutexW(READ_CONTROL, FALSE, mutexName.c_str()));
  win::UniqueHandle request(OpenEventW(READ_CONTROL, FALSE, requestName.c_str()));
  win::UniqueHandle claim(
      OpenFileMappingW(READ_CONTROL, FALSE, win::widen("Local\\websetup-activate-" + cls).c_str()));
  ASSERT_TRUE(mutex.valid() && request.valid() && claim.valid());
  const struct {
    const char* what;
    HANDLE object;
    ACCESS_MASK use;
  } kObjects[] = {{"instance lock", mutex.get(), SYNCHRONIZE | MUTEX_MODIFY_STATE},
                  {"request event", request.get(), SYNCHRONIZE | EVENT_MODIFY_STATE},
                  {"claim section", claim.get(), SECTION_MAP_READ}};
  for (const auto& o : kObjects) {
    SCOPED_TRACE(o.what);
    const Granted granted = readBack(o.object);
    ASSERT_TRUE(granted.read);
    EXPECT_EQ(granted.authenticatedUsers, o.use);
    EXPECT_TRUE(granted.labelledMediumNoWriteUp);
  }

  EXPECT_TRUE(otherRunOpens(true, mutexName, SYNCHRONIZE | MUTEX_MODIFY_STATE));
  EXPECT_TRUE(otherRunOpens(false, requestName, SYNCHRONIZE | EVENT_MODIFY_STATE));
  for (const DWORD refused : {DWORD{WRITE_DAC}, DWORD{WRITE_OWNER}, DWORD{MUTEX_ALL_ACCESS}}) {
    EXPECT_FALSE(otherRunOpens(true, mutexName, refused)) << std::hex << refused;
  }
  EXPECT_FALSE(otherRunOpens(false, requestName, WRITE_DAC));
}

// Catches a freed lock that another run still reads as held because it
// may not open the mutex, which lives on while any run has it open.
TEST(SharedObjectsWinTest, InstanceLockIsSharedWithAnotherRun) {
  const std::string name = uniqueName("shared-instance");
  std::unique_ptr<InstanceLock> mine;
  ASSERT_EQ(InstanceLock::acquire(name, &mine), PlatformResult::kOk);
  NamedMutex keeper(name);
  PlatformResult theirs = PlatformResult::kOk;
  ASSERT_TRUE(runAsOtherRun([&] {
    std::unique_ptr<InstanceLock> lock;
    theirs = InstanceLock::acquire(name, &lock);
  }));
  EXPECT_EQ(theirs, PlatformResult::kAlreadyExists);

  mine->release();
  std::atomic<bool> held{false};
  ASSERT_TRUE(runAsOtherRun([&] {
    std::unique_ptr<InstanceLock> lock;
    theirs = InstanceLock::acquire(name, &lock);
    // While the other run holds it, we are the second run.
    std::unique_ptr<InstanceLock> ours;
    std::thread([&] {
      RevertToSelf();
      held = InstanceLock::acquire(name, &ours) == PlatformResult::kAlreadyExists;
    }).join();
  }));
  EXPECT_EQ(theirs, PlatformResult::kOk);
  EXPECT_TRUE(held.load());
}

// Catches a second run that cannot ask the first to come to the front
// because it may not open the claim, the events or the turn mutex.
TEST(SharedObjectsWinTest, AnotherRunReachesTheListener) {
  const std::string cls = uniqueName("QM_UI_Frame_reach");
  std::atomic<int> raised{0};
  auto listener = ActivationListener::listen(cls, [&] { ++raised; });
  ASSERT_NE(listener, nullptr);
  bool answered = false;
  ASSERT_TRUE(runAsOtherRun([&] { answered = requestActivation(cls); }));
  EXPECT_TRUE(answered);
  EXPECT_EQ(raised.load(), 1);
  // The turn mutex the other run made serves us as well.
  EXPECT_TRUE(requestActivation(cls));
  EXPECT_EQ(raised.load(), 2);
}

}  // namespace
}  // namespace platform
