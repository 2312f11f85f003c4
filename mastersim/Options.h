#pragma once
// The command line of tavrel-master.
#include <cstdint>
#include <string>
#include <vector>

#include "mastersim/Channels.h"
#include "mastersim/Simulator.h"

namespace mastersim {

struct MasterOptions {
    SimOptions sim;
    FaultOptions faults;
    std::string groups[kChannels] = {"239.20.0.11", "239.21.0.11"};
    uint16_t ports[kChannels] = {4003, 4003};
    std::string interfaceAddr = "127.0.0.1";
    int ttl = 1;
    double rate = 2000;        // packets per second on each channel; 0 = as fast as possible
    double duration = 0;       // real seconds; 0 = until the trading day is over
    Window stopBoth;           // both channels stop (the master station pauses)
    std::string truthDir;      // where to write the truth at the end
    std::string roundLog;      // where to write the send time of each NQHQ.DBF round
    double progressEvery = 5;  // seconds between progress lines; 0 = none
    uint32_t firstSeq = 1;

    // --compare TRUTHDIR TABLEDIR
    std::string compareTruth;
    std::string compareTables;
    bool converged = false;
};

enum class Command { Run, Compare, Help, Error };

// Parses argv (without the program name); on Error, error says why.
Command ParseOptions(const std::vector<std::string>& args, MasterOptions& options,
                     std::string& error);
std::string HelpText();

// "0x25", "37", "0x00,0x25" ...
bool ParseEncodingList(const std::string& text, std::vector<uint8_t>& out);

}  // namespace mastersim
