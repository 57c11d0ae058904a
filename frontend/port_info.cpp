#include "port_info.h"

#include <cerrno>

#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>
#endif

namespace kvr {

PortKind KindOf(const va::TVaPortIdentity& identity) {
  const auto starts = [&](const char* prefix) { return identity.Name.rfind(prefix, 0) == 0; };
  if (identity.IsUsb()) return PortKind::kUsb;
  if (starts("pts/")) return PortKind::kPseudoTerminal;
  if (starts("ttyS") || starts("ttyAMA") || starts("COM")) return PortKind::kBuiltIn;
  if (starts("rfcomm")) return PortKind::kBluetooth;
  return PortKind::kOther;
}

std::string UsbDescription(const va::TVaPortIdentity& identity) {
  if (identity.Product.empty() && identity.Manufacturer.empty())
    return "USB " + identity.VendorId + ":" + identity.ProductId;
  if (identity.Manufacturer.empty()) return identity.Product;
  if (identity.Product.empty()) return identity.Manufacturer;
  return identity.Product + " (" + identity.Manufacturer + ")";
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
  PortPermission p;
  struct stat st {};
  if (stat(device_path.c_str(), &st) != 0 || access(device_path.c_str(), R_OK | W_OK) == 0) return p;
  if (errno != EACCES) return p;
  p.denied = true;
  p.user = UserName(getuid());
  p.owner = UserName(st.st_uid);
  if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) return p;  // the group may not open it either
  std::vector<char> buf(65536);
  group gr{}, *found = nullptr;
  if (getgrgid_r(st.st_gid, &gr, buf.data(), buf.size(), &found) != 0 || !found) return p;
  p.group = found->gr_name;
  passwd pw{}, *me = nullptr;
  std::vector<char> pw_buf(16384);
  if (getpwuid_r(getuid(), &pw, pw_buf.data(), pw_buf.size(), &me) == 0 && me && me->pw_gid == st.st_gid)
    p.listed_in_group = true;
  for (char** member = found->gr_mem; *member; ++member)
    if (p.user == *member) p.listed_in_group = true;
  return p;
}

#endif

}  // namespace kvr
