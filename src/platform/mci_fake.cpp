#include "platform/mci_fake.h"

#include "platform/mci.h"
#include "platform/mci_devices.h"

namespace platform {

FakeMciPlayer::FakeMciPlayer()
    : table_(std::make_unique<mci::DeviceTable>(
          [this] { return clock_ ? clock_() : uint64_t(0); },
          [this](const std::string& path, mci::LoadedTune& out) -> int32_t {
              if (!anyFile_) return mci::LoadTuneFile(path, out);
              out.lengthMs = UINT64_MAX;
              return 0;
          },
          nullptr)) {
    SetMciHook([this](const std::string& command, char* reply, uint32_t replySize) {
        return Send(command, reply, replySize);
    });
}

FakeMciPlayer::~FakeMciPlayer() { SetMciHook(nullptr); }

int32_t FakeMciPlayer::Send(const std::string& command, char* reply, uint32_t replySize) {
    commands_.push_back(command);
    return table_->Send(command, reply, replySize);
}

void FakeMciPlayer::EndTune(const std::string& name) { table_->EndTune(name); }

bool FakeMciPlayer::IsOpen(const std::string& name) const { return table_->State(name).has_value(); }

bool FakeMciPlayer::IsPlaying(const std::string& name) const {
    const auto state = table_->State(name);
    return state && state->playing;
}

std::string FakeMciPlayer::FileOf(const std::string& name) const {
    const auto state = table_->State(name);
    return state ? state->file : std::string();
}

}  // namespace platform
