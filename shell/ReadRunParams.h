#pragma once
// Reading runParams.Cfg, the operator's file of switches and log levels, at
// start-up and every 15 seconds while the station runs.
#include <string>

#include "runtime/SimpleLogger.h"

// Reads the file at path into velk::RunParams::instance(). A missing file
// restores the defaults (fileLogLevel 200, viewLogLevel 300, checkTraffic 1,
// the debug switches off; DebugNewRoundSw keeps its value). Lines are read
// up to the first error, which is logged under "Tavrel"; after a clean read
// the file appender (when given) takes fileLogLevel.
void ReadRunParams(const std::string& path,
                   velk::SimpleLogger::ILogAppender* fileAppender = nullptr);
