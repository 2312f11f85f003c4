#pragma once
// What the application does with its one configuration record: load it at
// start-up (migrating the older binary file when there is no Tavrel.cfg yet),
// check that TCP reception has a server, save it after the settings were
// edited, and write its summary to the log.
#include <string>
#include <vector>

#include "config/CRcvConf.h"

// LoadConfig's result when the operator has to complete the configuration
// before the station can run (the settings sheet, or a headless station's
// list of items to fix).
constexpr int NeedsEditing = 13;
// lastFileError when no configuration file exists at all.
constexpr int kFileNotFound = 2;

// The files the configuration deals with, all derived from the program's
// directory; logFile and listFile are filled in once start-up has named them.
struct ConfigPaths {
    std::string exePath;     // full path of the executable
    std::string progDir;     // its directory
    std::string cfgPath;     // progDir/Tavrel.cfg
    std::string oldCfgPath;  // progDir/NQHQ_v12.Cfg
    std::string logFile;
    std::string listFile;

    static ConfigPaths ForExecutable(const std::string& exePath);
    static ConfigPaths ForProgramDir(const std::string& progDir);
};

// Fills conf afresh: from Tavrel.cfg when it exists (NeedsEditing when an
// item has to be fixed, 0 otherwise); else by migrating NQHQ_v12.Cfg
// (NeedsEditing: AuthID has to be entered); else the defaults, with
// lastFileError = kFileNotFound, and 0. -1 when the older file exists but
// cannot be read; lastFileError is then its errno. lastFileError is set only
// when neither file could be opened. With NeedsEditing, itemsToFix (when
// given) receives the names of the items to complete, as the message to the
// operator lists them; a damaged older file names none.
int LoadConfig(CRcvConf& conf, const ConfigPaths& paths, int& lastFileError,
               std::vector<std::string>* itemsToFix = nullptr);
// Writes conf to Tavrel.cfg and tells the operator how it went; 0 or -1.
int SaveConfig(const CRcvConf& conf, const ConfigPaths& paths);
// -1 (after telling the operator) when TCP is in use without any server of
// communication centre one.
int CheckTcpServers(const CRcvConf& conf);
// The configuration summary, one Info line per item under "Tavrel".
void LogConfig(const CRcvConf& conf, const ConfigPaths& paths);
