// What the programs say of a port: which permission fix applies (decided
// once), and the hint in each language's words.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "port_texts.h"

namespace kvr {
namespace {

// Joining the device's group is advised only where it gives access; an
// access list, the owner's own bits, a system group or a login that has the
// group already get the general advice.
TEST(PortPermission, JoiningTheGroupIsAdvisedOnlyWhereItHelps) {
  DeviceAccessFacts dialout;
  dialout.accessible = false;
  dialout.mode = 0660, dialout.owner_uid = 0, dialout.uid = 1000, dialout.gid = 20;
  dialout.user = "anna", dialout.owner = "root", dialout.group = "dialout";
  const auto with = [&](const std::function<void(DeviceAccessFacts&)>& change) {
    DeviceAccessFacts f = dialout;
    change(f);
    return DecidePortPermission(f);
  };
  struct Case {
    const char* what;
    PortPermission got;
    bool denied;
    std::string group;
    bool listed;
  } cases[] = {
      {"root:dialout 0660", with([](auto&) {}), true, "dialout", false},
      {"listed, the login older", with([](auto& f) { f.listed_in_group = true; }), true, "dialout", true},
      {"the login has the group", with([](auto& f) { f.session_has_group = true; }), true, "", false},
      {"an access list", with([](auto& f) { f.has_acl = true; }), true, "", false},
      {"root:root 0660", with([](auto& f) { f.gid = 0, f.group = "root"; }), true, "", false},
      {"the owner's own bits", with([](auto& f) { f.owner_uid = 1000, f.mode = 0060; }), true, "", false},
      {"no group rights", with([](auto& f) { f.mode = 0600; }), true, "", false},
      {"a group without a name", with([](auto& f) { f.group.clear(); }), true, "", false},
      {"accessible", with([](auto& f) { f.accessible = true; }), false, "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.got.denied, c.denied) << c.what;
    EXPECT_EQ(c.got.group, c.group) << c.what;
    EXPECT_EQ(c.got.listed_in_group, c.listed) << c.what;
  }
  EXPECT_EQ(with([](auto& f) { f.group.clear(); }).device_group, "20");
}

// Each fix fills its own words in both catalogues; the port's controls are
// escaped, the names go in where their placeholders are.
TEST(PortPermission, EachFixHasItsHintInEveryLanguage) {
  struct Case {
    PortPermission permission;
    PermissionFix fix;
    std::vector<std::string> english, russian;  // parts of the hint; none when there is none
  } cases[] = {
      {{true, "anna", "root", "dialout", "dialout", false},
       PermissionFix::kJoinGroup,
       {"you may not open /dev/tty\\x1BX: it belongs to the group \"dialout\"", "sudo usermod -aG dialout anna"},
       {"Нет прав на порт /dev/tty\\x1BX.", "«dialout»", "sudo usermod -aG dialout anna", "войдите в систему заново"}},
      {{true, "anna", "root", "dialout", "dialout", true},
       PermissionFix::kLogInAgain,
       {"member of the group \"dialout\" that may open /dev/tty\\x1BX", "log out and log in again"},
       {"уже в группе «dialout»", "выйдите из системы и войдите заново"}},
      {{true, "anna", "root", "20", "", false},
       PermissionFix::kAskAdministrator,
       {"(owner root, group 20) do not let anna read and write it", "ask your administrator"},
       {"(владелец root, группа 20)", "пользователю anna", "Попросите администратора"}},
      {{}, PermissionFix::kNone, {}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FixFor(c.permission), c.fix);
    const std::string english = PermissionHintText("/dev/tty\x1bX", c.permission, kEnglishPortWords);
    const std::string russian = PermissionHintText("/dev/tty\x1bX", c.permission, kRussianPortWords);
    EXPECT_EQ(english.empty(), c.english.empty()) << english;
    EXPECT_EQ(russian.empty(), c.russian.empty()) << russian;
    for (const std::string& part : c.english) EXPECT_NE(english.find(part), std::string::npos) << part << " in " << english;
    for (const std::string& part : c.russian) EXPECT_NE(russian.find(part), std::string::npos) << part << " in " << russian;
    for (const std::string& hint : {english, russian}) {
      EXPECT_EQ(hint.find('{'), std::string::npos) << hint;
      EXPECT_EQ(hint.find('\x1b'), std::string::npos) << hint;
    }
  }
}

}  // namespace
}  // namespace kvr
