#include "v4l2/Microphone.h"

#include "ffmpeg/Handles.h"
#include "ffmpeg/QuietLog.h"
#include "platform/CaptureSession.h"

extern "C" {
#include <libavdevice/avdevice.h>
}

#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <string>

namespace quorvane::backends::v4l2 {

// A back end implements the platform interfaces and speaks in their types.
using namespace platform;

struct MicrophoneCapture::Input {
    backends::ffmpeg::InputFormat format;
    const std::atomic<bool>* stopping = nullptr;
};

namespace {

struct Source {
    const char* format;
    const char* device;
};
// In order of preference; the first that opens is the default microphone.
constexpr Source sources[] = {{"pulse", "default"}, {"alsa", "default"}};

std::string addressOf(const Source& source) {
    return std::string(source.format) + ":" + source.device;
}

// ALSA writes its own complaints straight to standard error; the library
// libavdevice loaded gets a handler that says nothing.
void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

void silenceAlsa() {
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    static std::once_flag done;
    std::call_once(done, [] {
        void* alsa = ::dlopen("libasound.so.2", RTLD_LAZY | RTLD_NOLOAD);
        if (!alsa) return;
        auto set = reinterpret_cast<int (*)(Handler)>(::dlsym(alsa, "snd_lib_error_set_handler"));
        if (set) set(ignoreAlsaError);
        ::dlclose(alsa);
    });
}

int interrupted(void* opaque) {
    const auto* stopping = static_cast<const std::atomic<bool>*>(opaque);
    return stopping && stopping->load() ? 1 : 0;
}

backends::ffmpeg::InputFormat openSource(const Source& source, int sampleRate,
                                         const std::atomic<bool>* stopping) {
    static std::once_flag registered;
    std::call_once(registered, [] {
        backends::ffmpeg::silenceLibraryLog();
        avdevice_register_all();
    });
    const AVInputFormat* format = av_find_input_format(source.format);
    if (!format) return nullptr;
    if (std::string(source.format) == "alsa") silenceAlsa();
    AVFormatContext* context = avformat_alloc_context();
    if (!context) return nullptr;
    context->interrupt_callback = {interrupted, const_cast<std::atomic<bool>*>(stopping)};
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "sample_rate", sampleRate, 0);
    av_dict_set_int(&options, "channels", 1, 0);
    // Small packets keep the sound close to the pictures.
    if (std::string(source.format) == "pulse")
        av_dict_set_int(&options, "fragment_size", sampleRate / 25 * 2, 0);
    const int status = avformat_open_input(&context, source.device, format, &options);
    av_dict_free(&options);
    if (status < 0) return nullptr; // the context was freed
    backends::ffmpeg::InputFormat input(context);
    if (input->nb_streams != 1 || input->streams[0]->codecpar->codec_id != AV_CODEC_ID_PCM_S16LE ||
        input->streams[0]->codecpar->ch_layout.nb_channels != 1)
        return nullptr;
    return input;
}

} // namespace

std::optional<CaptureDevice> findMicrophone() {
    for (const auto& source : sources) {
        if (openSource(source, 48000, nullptr))
            return CaptureDevice{addressOf(source), "Default microphone", addressOf(source)};
    }
    return std::nullopt;
}

std::unique_ptr<MicrophoneCapture> MicrophoneCapture::open(const CaptureDevice& microphone,
                                                           int sampleRate) {
    for (const auto& source : sources) {
        if (addressOf(source) != microphone.address) continue;
        auto capture = std::make_unique<MicrophoneCapture>(sampleRate);
        capture->input_->format = openSource(source, sampleRate, &capture->stopping_);
        if (!capture->input_->format) return nullptr;
        return capture;
    }
    return nullptr;
}

MicrophoneCapture::MicrophoneCapture(int sampleRate)
    : input_(std::make_unique<Input>()), sampleRate_(sampleRate) {
    input_->stopping = &stopping_;
}

MicrophoneCapture::~MicrophoneCapture() {
    stop();
}

void MicrophoneCapture::start(Deliver deliver) {
    thread_ = std::thread([this, deliver = std::move(deliver)] { run(deliver); });
}

void MicrophoneCapture::stop() {
    stopping_ = true;
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void MicrophoneCapture::run(const Deliver& deliver) {
    backends::ffmpeg::Packet packet(av_packet_alloc());
    if (!packet) return;
    while (!stopping_) {
        if (av_read_frame(input_->format.get(), packet.get()) < 0) return; // the sound simply ends
        // A packet is read when its last sample has arrived: date the first
        // sample back from now on the capture clock.
        const double now = hostTimeNow();
        const int frames = packet->size / 2;
        std::vector<std::int16_t> samples(static_cast<std::size_t>(frames));
        std::memcpy(samples.data(), packet->data, static_cast<std::size_t>(frames) * 2);
        av_packet_unref(packet.get());
        if (frames > 0)
            deliver(std::move(samples), now - static_cast<double>(frames) / sampleRate_);
    }
}

} // namespace quorvane::backends::v4l2
