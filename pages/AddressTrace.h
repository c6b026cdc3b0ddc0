// Where mail to an address goes, step by step, each step with the entry that decided it: the
// domain's kind, the alias entry (exact, wildcard or catch-all), forwards followed through the
// local domains, the account folder with its automatic reply, and for mail that leaves the
// server the transport rule and smart host it would take.
#pragma once

#include "app/ConfigSet.h"

#include <string>
#include <vector>

struct CTraceStep {
    std::string text;      // a German sentence, UTF-8
    std::string decidedBy; // the file and entry that decided it ("aliases: *@example.test"), UTF-8
};

struct CTrace {
    std::vector<CTraceStep> steps;
    // Where the mail ends: delivered into an account, sent on to another server, or refused.
    enum class End { Account, Outgoing, Refused, Loop } end = End::Refused;
};

// address is in the code page of the files, any letter case. The files do not say in which
// order the delivery agent weighs its smart-host rules; the trace takes a rule for the
// recipient's domain first, then one for the sender's domain, then "*", and names the rule it
// took, so that the administrator can see the assumption.
CTrace TraceAddress(const CConfigSet& set, std::string_view address);
