// brevun-check --nts: Network Time Security (nts/) as the checks ask it, one server or several
// at once. Linux builds only: the Windows builds have no TLS library yet.
#pragma once

#include <optional>
#include <string>

#include "measure/offset.h"
#include "measure/several.h"

namespace brevun::measure {

struct NtsSettings {
  std::optional<std::string> serverName;  // --nts-server-name; else each -H's own name
  std::optional<std::string> caFile;      // --nts-ca; else the system's trust store
};

// Loads GnuTLS and Nettle for the queries to come. Throws Failure with a sentence that names
// the libraries when this system cannot load them.
void LoadNts();

// One server: the key establishment with the -H host, then the authenticated exchange with the
// NTP server it names, within the options' budget.
OffsetQuery NtsQuery(const NtsSettings& settings);

// Several servers, each with its own key establishment and exchange, all at once under one
// deadline; the addresses of a name as SNTP finds them.
ConsensusNetwork NtsNetwork(const NtsSettings& settings);

}  // namespace brevun::measure
