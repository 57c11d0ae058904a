#include "port_info.h"

#include <algorithm>
#include <cerrno>
#include <string>

#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <vector>
#endif

#include "hex_text.h"

namespace kvr {

PortKind KindOf(const va::TVaPortIdentity& identity) {
  const auto starts = [&](const char* prefix) { return identity.Name.rfind(prefix, 0) == 0; };
  if (identity.IsUsb()) return PortKind::kUsb;
  if (identity.Kind == va::pkBuiltIn) return PortKind::kBuiltIn;  // told by Windows' device records
  if (identity.Kind == va::pkBluetooth) return PortKind::kBluetooth;
  if (starts("pts/")) return PortKind::kPseudoTerminal;
  if (starts("ttyS") || starts("ttyAMA")) return PortKind::kBuiltIn;
  if (starts("rfcomm")) return PortKind::kBluetooth;
  if (starts("rfc2217://") || starts("socket://")) return PortKind::kNetwork;
  return PortKind::kOther;
}

std::string DeviceText(const std::string& text, size_t max_chars) {
  const std::string shown = WithoutControls(text);
  size_t chars = 0;
  for (size_t i = 0; i < shown.size(); ++i) {
    if ((static_cast<unsigned char>(shown[i]) & 0xC0) == 0x80) continue;  // inside a character
    if (++chars > max_chars) return shown.substr(0, i) + "…";
  }
  return shown;
}

std::string PortName(const std::string& device_path) {
  return device_path.rfind("/dev/", 0) == 0 ? device_path.substr(5) : device_path;
}

std::string UsbDescription(const va::TVaPortIdentity& identity) {
  const std::string product = DeviceText(identity.Product, 40), maker = DeviceText(identity.Manufacturer, 24);
  if (product.empty() && maker.empty())
    return "USB " + DeviceText(identity.VendorId, 4) + ":" + DeviceText(identity.ProductId, 4);
  if (maker.empty()) return product;
  if (product.empty()) return maker;
  return product + " (" + maker + ")";
}

PortPermission DecidePortPermission(const DeviceAccessFacts& f) {
  PortPermission p;
  if (f.accessible) return p;
  p.denied = true;
  p.user = f.user;
  p.owner = f.owner;
  p.device_group = f.group.empty() ? std::to_string(f.gid) : f.group;
  const unsigned group_rw = 060;
  if (f.has_acl || f.uid == f.owner_uid || f.gid == 0 || f.group.empty() || (f.mode & group_rw) != group_rw ||
      f.session_has_group)
    return p;
  p.group = f.group;
  p.listed_in_group = f.listed_in_group;
  return p;
}

#ifdef _WIN32

PortPermission CheckPortPermission(const std::string&) { return {}; }

#else

namespace {

std::string UserName(uid_t uid) {
  std::vector<char> buf(16384);
  passwd pw{}, *found = nullptr;
  if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found) return found->pw_name;
  return std::to_string(uid);
}

}  // namespace

PortPermission CheckPortPermission(const std::string& device_path) {
  DeviceAccessFacts f;
  struct stat st {};
  if (stat(device_path.c_str(), &st) != 0 || access(device_path.c_str(), R_OK | W_OK) == 0 || errno != EACCES)
    return {};
  f.accessible = false;
  f.has_acl = getxattr(device_path.c_str(), "system.posix_acl_access", nullptr, 0) > 0;
  f.mode = st.st_mode & 07777;
  f.owner_uid = st.st_uid;
  f.uid = getuid();
  f.gid = st.st_gid;
  f.user = UserName(f.uid);
  f.owner = UserName(st.st_uid);
  std::vector<gid_t> groups(static_cast<size_t>(std::max(getgroups(0, nullptr), 0)) + 1);
  groups.resize(static_cast<size_t>(std::max(getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
  f.session_has_group = getegid() == st.st_gid || std::find(groups.begin(), groups.end(), st.st_gid) != groups.end();
  std::vector<char> buf(65536);
  group gr{}, *found = nullptr;
  if (getgrgid_r(st.st_gid, &gr, buf.data(), buf.size(), &found) == 0 && found) {
    f.group = found->gr_name;
    for (char** member = found->gr_mem; *member; ++member)
      if (f.user == *member) f.listed_in_group = true;
  }
  passwd pw{}, *me = nullptr;
  std::vector<char> pw_buf(16384);
  if (getpwuid_r(f.uid, &pw, pw_buf.data(), pw_buf.size(), &me) == 0 && me && me->pw_gid == st.st_gid)
    f.listed_in_group = true;
  return DecidePortPermission(f);
}

#endif

}  // namespace kvr
