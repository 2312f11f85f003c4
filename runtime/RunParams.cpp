#include "runtime/RunParams.h"

namespace velk {

RunParams& RunParams::instance() {
    static RunParams params;
    return params;
}

void RunParams::clear() {
    for (auto* v : {&testPerformance, &DebugNewRoundSw, &DebugRecNoSw, &saveFirstRoundQuota,
                    &saveClosedRoundQuota, &savePerRound, &fileLogLevel, &viewLogLevel,
                    &checkTraffic})
        v->store(0);
}

}  // namespace velk
