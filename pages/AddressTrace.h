// Where mail to an address goes, step by step, each step with the entry that decided it: the
// domain's kind, the alias entry (exact, wildcard or catch-all), forwards followed through the
// local domains, the account folder with its automatic reply, and for mail that leaves the
// server the transport rule and smart host it would take.
#pragma once

#include "app/ConfigSet.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct CTraceStep {
    std::string text;      // a German sentence, UTF-8
    std::string decidedBy; // the file and entry that decided it ("aliases: *@example.test"), UTF-8
};

struct CTrace {
    std::vector<CTraceStep> steps;
    // Where the mail ends: delivered into an account, sent on to another server, or refused.
    enum class End { Account, Outgoing, Refused, Loop } end = End::Refused;
    std::string account; // End::Account: the account that receives it, in the code page
};

// The longest address an envelope can carry (RFC 5321: a path of 256 characters, brackets
// included).
inline constexpr std::size_t kLongestAddress = 254;

// Why address cannot be traced, as the German text shown for it in the code page of the files:
// only what could stand in an envelope is traced (not empty, no blank or control character, one
// "@" at most and not first, a usable domain after it, at most kLongestAddress characters).
// Nothing when it can be traced.
std::optional<std::string> TraceAddressRefusal(std::string_view address);

// address is in the code page of the files, any letter case. The files do not say in which
// order the delivery agent weighs its smart-host rules; the trace takes a rule for the
// recipient's domain first, then one for the sender's domain, then "*", and names the rule it
// took, so that the administrator can see the assumption.
CTrace TraceAddress(const CConfigSet& set, std::string_view address);
