// One measurement and its judgement as one JSON document (RFC 8259), for collectors that read
// JSON (Telegraf's exec input, Zabbix, scripts). Times and offsets are numbers of seconds with
// six decimals, never strings; ranges are strings as the administrator typed them.
#pragma once

#include <string>

#include "measure/judgement.h"
#include "measure/measurement.h"

namespace brevun::output {

// The document, on one line, with its line break.
std::string JsonDocument(const measure::Measurement& measurement,
                         const measure::Judgement& judgement, const measure::Criteria& criteria);

// A JSON string literal of UTF-8 text: quoted, with the quote, the backslash and every control
// character escaped.
std::string JsonString(const std::string& text);

}  // namespace brevun::output
