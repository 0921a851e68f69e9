#include "v4l2/Microphone.h"

#include "ffmpeg/Handles.h"
#include "ffmpeg/QuietLog.h"
#include "platform/CaptureSession.h"

extern "C" {
#include <libavdevice/avdevice.h>
}

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <string>
#include <thread>

namespace quorvane::backends::v4l2 {

// A back end implements the platform interfaces and speaks in their types.
using namespace platform;

namespace {

using Clock = std::chrono::steady_clock;

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

// Blocks for as long as the source takes (a sound server that accepts and
// never answers holds it for good): callers run it on a thread of its own.
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

struct MicrophoneCapture::Reader {
    int sampleRate = 48000;
    std::string address;
    backends::ffmpeg::InputFormat format;
    std::atomic<bool> stopping{false}; // also ends library waits that look at it

    // Guards the hand-over of an opened source, and each delivery, against
    // a caller that has given up on this reader.
    std::mutex lock;
    std::condition_variable changed;
    bool settled = false;   // opening ended, well or not
    bool abandoned = false; // nobody waits for this reader any more
    bool finished = false;  // the read loop has returned

    // The sources that match `address` (every source when it is empty), in
    // order, until one opens; then tells the waiting caller.
    void openFirst() {
        backends::ffmpeg::InputFormat opened;
        for (const auto& source : sources) {
            if (!address.empty() && addressOf(source) != address) continue;
            opened = openSource(source, sampleRate, &stopping);
            if (opened) {
                address = addressOf(source);
                break;
            }
            if (stopping) break;
        }
        std::lock_guard held(lock);
        // Given up on: the source closes here, on this thread, however long
        // that takes.
        if (!abandoned) format = std::move(opened);
        settled = true;
        changed.notify_all();
    }

    void run(const Deliver& deliver) {
        backends::ffmpeg::Packet packet(av_packet_alloc());
        while (packet && !stopping) {
            if (av_read_frame(format.get(), packet.get()) < 0) break; // the sound simply ends
            // A packet is read when its last sample has arrived: date the
            // first sample back from now on the capture clock.
            const double now = hostTimeNow();
            const int frames = packet->size / 2;
            std::vector<std::int16_t> samples(static_cast<std::size_t>(frames));
            std::memcpy(samples.data(), packet->data, static_cast<std::size_t>(frames) * 2);
            av_packet_unref(packet.get());
            std::lock_guard held(lock);
            if (stopping) break;
            if (frames > 0)
                deliver(std::move(samples), now - static_cast<double>(frames) / sampleRate);
        }
        std::lock_guard held(lock);
        finished = true;
        changed.notify_all();
    }
};

namespace {

// Opens the microphone at `address` (the first that opens when empty) on a
// thread of its own; nothing when that takes longer than the deadline.
std::shared_ptr<MicrophoneCapture::Reader> openWithin(std::string address, int sampleRate) {
    auto reader = std::make_shared<MicrophoneCapture::Reader>();
    reader->sampleRate = sampleRate;
    reader->address = std::move(address);
    std::thread([reader] { reader->openFirst(); }).detach();
    std::unique_lock held(reader->lock);
    if (!reader->changed.wait_for(held, microphoneOpenDeadline, [&] { return reader->settled; })) {
        // Left to finish or hang on its own; what it opens, it closes.
        reader->abandoned = true;
        reader->stopping = true;
        return nullptr;
    }
    if (!reader->format) return nullptr;
    return reader;
}

} // namespace

std::optional<CaptureDevice> findMicrophone() {
    auto reader = openWithin({}, 48000);
    if (!reader) return std::nullopt;
    // The source closes with the reader; the recording opens its own.
    return CaptureDevice{reader->address, "Default microphone", reader->address};
}

std::unique_ptr<MicrophoneCapture> MicrophoneCapture::open(const CaptureDevice& microphone,
                                                           int sampleRate) {
    bool known = false;
    for (const auto& source : sources)
        known = known || addressOf(source) == microphone.address;
    if (!known) return nullptr;
    auto reader = openWithin(microphone.address, sampleRate);
    if (!reader) return nullptr;
    return std::make_unique<MicrophoneCapture>(std::move(reader));
}

MicrophoneCapture::MicrophoneCapture(std::shared_ptr<Reader> reader) : reader_(std::move(reader)) {}

MicrophoneCapture::~MicrophoneCapture() {
    stop();
}

void MicrophoneCapture::start(Deliver deliver) {
    if (started_) return;
    started_ = true;
    // Detached: a read that never returns must not hold whoever stops it.
    // The thread keeps the reader, and with it the source, alive.
    std::thread([reader = reader_, deliver = std::move(deliver)] {
        reader->run(deliver);
    }).detach();
}

void MicrophoneCapture::stop() {
    std::unique_lock held(reader_->lock);
    reader_->stopping = true;
    if (!started_) return;
    reader_->changed.wait_for(held, microphoneStopWait, [&] { return reader_->finished; });
}

} // namespace quorvane::backends::v4l2
