#include "dialog/version_line.h"

#include <string>

#include "dialog/component_version.h"

namespace brevun::dialog {

namespace {

std::u16string Digits(unsigned n) {
  const std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

}  // namespace

std::u16string VersionLine(unsigned major, unsigned minor, unsigned revision) {
  return u"version " + Digits(major) + u"." + Digits(minor) + u" build " + Digits(revision);
}

std::u16string ComponentVersionLine() {
  return VersionLine(kVersionMajor, kVersionMinor, kVersionRevision);
}

}  // namespace brevun::dialog
