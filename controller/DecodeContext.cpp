#include "controller/DecodeContext.h"

#include <cstring>

#include "controller/Packet.h"
#include "platform/Clock.h"

DecodeContext::DecodeContext() : DecodeContext(nullptr) {}

DecodeContext::DecodeContext(std::unique_ptr<Inflater> inflater)
    : workBuffer_(new uint8_t[Packet::kWorkBufferSize]),
      inflater_(inflater ? std::move(inflater) : std::make_unique<Inflater>()) {}

DecodeContext::~DecodeContext() = default;

void DecodeContext::createChannels() {
    channels.clear();
    const uint32_t now = platform::TickCount();
    for (uint32_t id : {kPrimaryChannelId, kBackupChannelId}) {
        auto state = std::make_unique<ChannelState>();
        state->channelId = id;
        state->lastRecvTick = now;
        channels.push_back(std::move(state));
    }
    primaryIndex.set(0);
    backupIndex.set(1);
    activeIndex.set(0);
}

ChannelState* DecodeContext::findChannel(uint32_t channelId) {
    for (auto& state : channels) {
        if (state->channelId == channelId) return state.get();
    }
    return nullptr;
}

ChannelState* DecodeContext::channel(int32_t index) {
    if (index < 0 || size_t(index) >= channels.size()) return nullptr;
    return channels[size_t(index)].get();
}

const Rc6& DecodeContext::cipherFor(const std::string& key) {
    uint8_t padded[Rc6::kKeySize];
    Rc6::KeyFromText(key, padded);
    if (!cipherKeyed_ || std::memcmp(padded, cipherKey_, sizeof padded) != 0) {
        cipher_.setKey(padded);
        std::memcpy(cipherKey_, padded, sizeof padded);
        cipherKeyed_ = true;
    }
    return cipher_;
}
