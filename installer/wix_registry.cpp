#include "installer/wix_registry.h"

#include <cctype>
#include <cstddef>
#include <cstdio>

#include "component/registry_entries.h"

namespace brevun::installer {

namespace {

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// The position of "KIND NAME" as whole words, separated by white space, or npos.
std::size_t FindDeclaration(std::string_view idl, std::string_view kind, std::string_view name) {
  for (std::size_t at = idl.find(kind); at != std::string_view::npos;
       at = idl.find(kind, at + 1)) {
    if (at > 0 && IsWordChar(idl[at - 1])) continue;
    std::size_t i = at + kind.size();
    if (i >= idl.size() || !IsSpace(idl[i])) continue;
    while (i < idl.size() && IsSpace(idl[i])) ++i;
    if (idl.compare(i, name.size(), name) != 0) continue;
    const std::size_t end = i + name.size();
    if (end < idl.size() && IsWordChar(idl[end])) continue;
    return at;
  }
  return std::string_view::npos;
}

bool IsGuid(std::string_view text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash != (text[i] == '-')) return false;
    if (!dash && std::isxdigit(static_cast<unsigned char>(text[i])) == 0) return false;
  }
  return true;
}

std::string XmlAttribute(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

bool HasBracket(std::string_view text) { return text.find_first_of("[]") != std::string_view::npos; }

// A name the installer accepts inside a reference: a File or Directory row's id.
bool IsIdentifier(std::string_view text) {
  if (text.empty() || std::isdigit(static_cast<unsigned char>(text.front())) != 0) return false;
  for (const char c : text) {
    if (!IsWordChar(c) && c != '.') return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> IdlUuid(std::string_view idl, std::string_view kind,
                                   std::string_view name) {
  const std::size_t at = FindDeclaration(idl, kind, name);
  if (at == std::string_view::npos) return std::nullopt;
  // Only white space may stand between the attribute list and the declaration: a uuid further
  // back belongs to something else.
  std::size_t close = at;
  while (close > 0 && IsSpace(idl[close - 1])) --close;
  if (close == 0 || idl[close - 1] != ']') return std::nullopt;
  const std::size_t open = idl.rfind('[', close - 1);
  if (open == std::string_view::npos) return std::nullopt;
  const std::string_view attributes = idl.substr(open, close - open);
  std::size_t u = attributes.find("uuid");
  while (u != std::string_view::npos && u > 0 && IsWordChar(attributes[u - 1])) {
    u = attributes.find("uuid", u + 1);
  }
  if (u == std::string_view::npos) return std::nullopt;
  std::size_t i = u + 4;
  while (i < attributes.size() && IsSpace(attributes[i])) ++i;
  if (i >= attributes.size() || attributes[i] != '(') return std::nullopt;
  const std::size_t end = attributes.find(')', i);
  if (end == std::string_view::npos) return std::nullopt;
  std::string_view guid = attributes.substr(i + 1, end - i - 1);
  while (!guid.empty() && IsSpace(guid.front())) guid.remove_prefix(1);
  while (!guid.empty() && IsSpace(guid.back())) guid.remove_suffix(1);
  if (!IsGuid(guid)) return std::nullopt;
  std::string out = "{";
  for (const char c : guid) out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  out += "}";
  return out;
}

std::optional<std::string> RegistryInclude(const Target& t, std::string& error) {
  namespace registry = component::registry;
  for (const std::string* plain : {&t.clsid, &t.iid, &t.libid, &t.platform, &t.folderName}) {
    if (HasBracket(*plain)) {
      error = "'" + *plain + "' holds a square bracket, which the installer would read as a reference";
      return std::nullopt;
    }
  }
  for (const std::string* id : {&t.fileId, &t.folderParent, &t.idPrefix}) {
    if (!IsIdentifier(*id)) {
      error = "'" + *id + "' is not an installer identifier";
      return std::nullopt;
    }
  }
  // The references the installer resolves at install time; everything else is plain text.
  auto lookup = [&t](std::string_view name, std::string& value) {
    if (name == "clsid") {
      value = t.clsid;
    } else if (name == "iid") {
      value = t.iid;
    } else if (name == "libid") {
      value = t.libid;
    } else if (name == "platform") {
      value = t.platform;
    } else if (name == "path") {
      value = "[#" + t.fileId + "]";
    } else if (name == "folder") {
      value = "[" + t.folderParent + "]" + t.folderName;
    } else {
      return false;
    }
    return true;
  };

  std::string out =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<!-- Made by brevun-wxs from the library's registration list; do not edit. -->\n"
      "<Include>\n";
  int row = 0;
  for (const registry::Entry& e : registry::kEntries) {
    ++row;
    if (t.omitFolder && std::string_view(e.value).find("{folder}") != std::string_view::npos) {
      continue;
    }
    for (const char* pattern : {e.key, e.name, e.value}) {
      if (pattern != nullptr && HasBracket(pattern)) {
        error = std::string("the entry '") + e.key + "' holds a square bracket";
        return std::nullopt;
      }
    }
    std::string key = "Software\\Classes\\";
    std::string value;
    std::string name;
    if (!registry::Expand(e.key, lookup, key) || !registry::Expand(e.value, lookup, value) ||
        (e.name != nullptr && !registry::Expand(e.name, lookup, name))) {
      error = std::string("the entry '") + e.key + "' names a placeholder the installer cannot fill";
      return std::nullopt;
    }
    if (!value.empty() && value.front() == '#') {
      error = "the value of '" + key + "' starts with '#', which the installer would read as a number";
      return std::nullopt;
    }
    // Ids that sort in list order, so that the rows of a package keep the list's order.
    char id[16];
    std::snprintf(id, sizeof id, "%02d", row);
    out += "  <RegistryValue Id=\"" + XmlAttribute(t.idPrefix) + id + "\" Root=\"HKLM\" Key=\"" +
           XmlAttribute(key) + "\"";
    if (e.name != nullptr) out += " Name=\"" + XmlAttribute(name) + "\"";
    out += " Type=\"string\" Value=\"" + XmlAttribute(value) + "\"/>\n";
  }
  out += "</Include>\n";
  return out;
}

}  // namespace brevun::installer
