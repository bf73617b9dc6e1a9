#include "platform/gst/GstAlsaMixer.h"

#include <alsa/asoundlib.h>

#include <memory>

namespace {

// ALSA writes its configuration complaints to stderr when no card exists;
// a missing card is an ordinary answer here ("no lines").
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

struct MixerCloser {
    void operator()(snd_mixer_t* m) const { snd_mixer_close(m); }
};
using MixerPtr = std::unique_ptr<snd_mixer_t, MixerCloser>;

MixerPtr OpenMixer(const std::string& card) {
    static const bool quiet = [] {
        snd_lib_error_set_handler(&QuietAlsa);
        return true;
    }();
    (void)quiet;
    snd_mixer_t* raw = nullptr;
    if (card.empty() || snd_mixer_open(&raw, 0) < 0) return nullptr;
    MixerPtr mixer(raw);
    if (snd_mixer_attach(raw, card.c_str()) < 0 ||
        snd_mixer_selem_register(raw, nullptr, nullptr) < 0 || snd_mixer_load(raw) < 0)
        return nullptr;
    return mixer;
}

snd_mixer_elem_t* FindLine(snd_mixer_t* mixer, const std::string& line) {
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(mixer); e; e = snd_mixer_elem_next(e))
        if (snd_mixer_selem_is_active(e) && snd_mixer_selem_has_capture_switch(e) &&
            line == snd_mixer_selem_get_name(e))
            return e;
    return nullptr;
}

bool SwitchOn(snd_mixer_elem_t* e) {
    for (int ch = 0; ch <= SND_MIXER_SCHN_LAST; ++ch) {
        auto channel = static_cast<snd_mixer_selem_channel_id_t>(ch);
        if (!snd_mixer_selem_has_capture_channel(e, channel)) continue;
        int value = 0;
        if (snd_mixer_selem_get_capture_switch(e, channel, &value) == 0 && value) return true;
    }
    return false;
}

} // namespace

std::vector<TAlsaInputLine> TAlsaMixer::InputLines(const std::string& card) {
    std::vector<TAlsaInputLine> lines;
    MixerPtr mixer = OpenMixer(card);
    if (!mixer) return lines;
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(mixer.get()); e; e = snd_mixer_elem_next(e))
        if (snd_mixer_selem_is_active(e) && snd_mixer_selem_has_capture_switch(e))
            lines.push_back({snd_mixer_selem_get_name(e), SwitchOn(e)});
    return lines;
}

bool TAlsaMixer::SetEnabled(const std::string& card, const std::string& line, bool enabled) {
    MixerPtr mixer = OpenMixer(card);
    snd_mixer_elem_t* e = mixer ? FindLine(mixer.get(), line) : nullptr;
    return e && snd_mixer_selem_set_capture_switch_all(e, enabled ? 1 : 0) == 0;
}

bool TAlsaMixer::IsEnabled(const std::string& card, const std::string& line, bool& enabled) {
    MixerPtr mixer = OpenMixer(card);
    snd_mixer_elem_t* e = mixer ? FindLine(mixer.get(), line) : nullptr;
    if (!e) return false;
    enabled = SwitchOn(e);
    return true;
}
