// Why a time query gave no time: one failure, with one kind, from the socket that noticed it
// to the text a person reads. The socket layer and an exchange with one address throw it with
// a short detail ("connection refused", "3 of 4 bytes received"); the query, which knows the
// host and the budget, throws it again with the whole description, of the same kind.
#pragma once

#include <string>
#include <utility>

#include "check/failure.h"

namespace brevun {

class QueryFailure : public Failure {
 public:
  enum class Kind {
    kUnknownHost,  // the name has no address (of the family asked for)
    kTimeout,      // no usable answer in time
    kRefused,      // refused or reset; an ICMP port unreachable on a datagram socket
    kMalformed,    // an answer that no time can be read from
    kNetwork,      // anything else of the network
    // Refused by Network Time Security: TLS, the certificate, the key establishment, or a
    // reply that is not authentic. The description is the whole sentence.
    kAuthentication,
  };
  QueryFailure(Kind kind, std::u16string description)
      : Failure(std::move(description)), kind_(kind) {}
  Kind kind() const noexcept { return kind_; }

 private:
  Kind kind_;
};

// A kind in a few words, where a line names several servers or attempts and what became of
// each: "cannot resolve", "no answer", "refused", "malformed reply", "network error", "not
// authentic".
const char16_t* InFewWords(QueryFailure::Kind kind);

}  // namespace brevun
