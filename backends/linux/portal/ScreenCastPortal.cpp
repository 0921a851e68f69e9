#include "portal/ScreenCastPortal.h"

#include "platform/PortalCapture.h"
#include "text/Utf8.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace quorvane::backends::portal {
namespace {

using platform::ScreenAccessRefused;
using platform::ScreenCaptureError;

constexpr const char* kBusName = "org.freedesktop.portal.Desktop";
constexpr const char* kObjectPath = "/org/freedesktop/portal/desktop";
constexpr const char* kScreenCast = "org.freedesktop.portal.ScreenCast";
constexpr const char* kRequest = "org.freedesktop.portal.Request";
constexpr const char* kSession = "org.freedesktop.portal.Session";
constexpr int kCloseMilliseconds = 500;

struct VariantFree {
    void operator()(GVariant* v) const { g_variant_unref(v); }
};
using Variant = std::unique_ptr<GVariant, VariantFree>;

struct ObjectFree {
    void operator()(gpointer o) const { g_object_unref(o); }
};

struct ErrorFree {
    void operator()(GError* e) const { g_error_free(e); }
};
using Error = std::unique_ptr<GError, ErrorFree>;

std::string describe(const GError* error) {
    if (!error) return "unknown error";
    // GDBus puts the remote error's name before the sentence; keep the sentence.
    GError* copy = g_error_copy(error);
    g_dbus_error_strip_remote_error(copy);
    std::string text = copy->message ? copy->message : "unknown error";
    g_error_free(copy);
    return text::validUtf8(text);
}

int milliseconds(std::chrono::milliseconds d) {
    return static_cast<int>(std::min<std::chrono::milliseconds::rep>(d.count(), G_MAXINT));
}

// A main context of our own, the thread-default one while it lives, so that
// the Response signals of one request are dispatched here and nowhere else.
class OwnContext {
  public:
    OwnContext() : context_(g_main_context_new()) { g_main_context_push_thread_default(context_); }
    ~OwnContext() {
        g_main_context_pop_thread_default(context_);
        g_main_context_unref(context_);
    }
    OwnContext(const OwnContext&) = delete;
    OwnContext& operator=(const OwnContext&) = delete;
    GMainContext* get() const { return context_; }

  private:
    GMainContext* context_;
};

struct Pending {
    bool done = false;
    bool timedOut = false;
    std::uint32_t response = 2;
    Variant results;
};

void onResponse(GDBusConnection*, const char*, const char*, const char*, const char*,
                GVariant* parameters, gpointer data) {
    auto* pending = static_cast<Pending*>(data);
    if (pending->done || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) return;
    guint32 response = 2;
    GVariant* results = nullptr;
    g_variant_get(parameters, "(u@a{sv})", &response, &results);
    pending->response = response;
    pending->results.reset(results);
    pending->done = true;
}

// A main context served by a thread of its own, for the signals that come
// while nobody waits on the portal: the session's Closed.
class SignalThread {
  public:
    SignalThread()
        : context_(g_main_context_new()), loop_(g_main_loop_new(context_, FALSE)), thread_([this] {
              g_main_context_push_thread_default(context_);
              g_main_loop_run(loop_);
              g_main_context_pop_thread_default(context_);
          }) {}
    ~SignalThread() {
        // Quit from inside the loop, so that a quit before the loop runs still counts.
        g_main_context_invoke(
            context_,
            [](gpointer loop) -> gboolean {
                g_main_loop_quit(static_cast<GMainLoop*>(loop));
                return G_SOURCE_REMOVE;
            },
            loop_);
        thread_.join();
        g_main_loop_unref(loop_);
        g_main_context_unref(context_);
    }
    SignalThread(const SignalThread&) = delete;
    SignalThread& operator=(const SignalThread&) = delete;
    GMainContext* context() const { return context_; }

  private:
    GMainContext* context_;
    GMainLoop* loop_;
    std::thread thread_;
};

class Portal final : public ScreenCastPortal {
  public:
    Portal(GDBusConnection* connection, Timeouts timeouts)
        : connection_(connection), timeouts_(timeouts) {
        std::string sender = g_dbus_connection_get_unique_name(connection_.get());
        if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
        for (char& c : sender)
            if (c == '.') c = '_';
        sender_ = sender;
    }

    ~Portal() override {
        close();
        if (closedSubscription_)
            g_dbus_connection_signal_unsubscribe(connection_.get(), closedSubscription_);
        signals_.reset(); // no handler runs after this
    }

    std::optional<Offer> offer() override {
        GError* raw = nullptr;
        Variant reply(g_dbus_connection_call_sync(
            connection_.get(), kBusName, kObjectPath, "org.freedesktop.DBus.Properties", "GetAll",
            g_variant_new("(s)", kScreenCast), G_VARIANT_TYPE("(a{sv})"), G_DBUS_CALL_FLAGS_NONE,
            milliseconds(timeouts_.call), nullptr, &raw));
        Error error(raw);
        if (!reply) return std::nullopt;
        Variant properties(g_variant_get_child_value(reply.get(), 0));
        Offer offer;
        guint32 value = 0;
        if (g_variant_lookup(properties.get(), "AvailableSourceTypes", "u", &value))
            offer.sourceTypes = value;
        if (g_variant_lookup(properties.get(), "AvailableCursorModes", "u", &value))
            offer.cursorModes = value;
        return offer;
    }

    StartedCast start(std::uint32_t cursorMode,
                      const std::optional<std::string>& restoreToken) override {
        // CreateSession
        {
            GVariantBuilder options;
            g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
            const std::string token = nextToken();
            g_variant_builder_add(&options, "{sv}", "handle_token",
                                  g_variant_new_string(token.c_str()));
            g_variant_builder_add(&options, "{sv}", "session_handle_token",
                                  g_variant_new_string(nextToken().c_str()));
            Variant results =
                request("CreateSession", g_variant_new("(a{sv})", &options), token, timeouts_.call);
            Variant handle(g_variant_lookup_value(results.get(), "session_handle", nullptr));
            if (!handle || !(g_variant_is_of_type(handle.get(), G_VARIANT_TYPE_STRING) ||
                             g_variant_is_of_type(handle.get(), G_VARIANT_TYPE_OBJECT_PATH)))
                throw ScreenCaptureError("The desktop portal opened no screen cast session.");
            session_ = g_variant_get_string(handle.get(), nullptr);
            if (!g_variant_is_object_path(session_.c_str()))
                throw ScreenCaptureError("The desktop portal opened no screen cast session.");
        }
        // SelectSources
        {
            GVariantBuilder options;
            g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
            const std::string token = nextToken();
            g_variant_builder_add(&options, "{sv}", "handle_token",
                                  g_variant_new_string(token.c_str()));
            g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(kWindowSource));
            g_variant_builder_add(&options, "{sv}", "multiple", g_variant_new_boolean(FALSE));
            g_variant_builder_add(&options, "{sv}", "cursor_mode",
                                  g_variant_new_uint32(cursorMode));
            g_variant_builder_add(&options, "{sv}", "persist_mode",
                                  g_variant_new_uint32(kPersistUntilRevoked));
            // The portal only takes tokens it made (UUIDs); anything else
            // would fail the whole request, so it is left out.
            if (restoreToken && g_uuid_string_is_valid(restoreToken->c_str()))
                g_variant_builder_add(&options, "{sv}", "restore_token",
                                      g_variant_new_string(restoreToken->c_str()));
            request("SelectSources", g_variant_new("(oa{sv})", session_.c_str(), &options), token,
                    timeouts_.call);
        }
        // Start: the picker, unless the stored choice is restored.
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        const std::string token = nextToken();
        g_variant_builder_add(&options, "{sv}", "handle_token",
                              g_variant_new_string(token.c_str()));
        Variant results =
            request("Start", g_variant_new("(osa{sv})", session_.c_str(), "", &options), token,
                    timeouts_.picker);
        return started(results.get());
    }

    int openPipeWireRemote() override {
        if (session_.empty()) throw ScreenCaptureError("No screen cast session is open.");
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        GUnixFDList* rawList = nullptr;
        GError* raw = nullptr;
        Variant reply(g_dbus_connection_call_with_unix_fd_list_sync(
            connection_.get(), kBusName, kObjectPath, kScreenCast, "OpenPipeWireRemote",
            g_variant_new("(oa{sv})", session_.c_str(), &options), G_VARIANT_TYPE("(h)"),
            G_DBUS_CALL_FLAGS_NONE, milliseconds(timeouts_.call), nullptr, &rawList, nullptr,
            &raw));
        Error error(raw);
        std::unique_ptr<GUnixFDList, ObjectFree> list(rawList);
        if (!reply || !list)
            throw ScreenCaptureError("The desktop portal gave no PipeWire connection: " +
                                     describe(error.get()));
        gint32 index = -1;
        g_variant_get(reply.get(), "(h)", &index);
        GError* raw2 = nullptr;
        const int fd = g_unix_fd_list_get(list.get(), index, &raw2);
        Error error2(raw2);
        if (fd < 0)
            throw ScreenCaptureError("The desktop portal gave no PipeWire connection: " +
                                     describe(error2.get()));
        return fd;
    }

    void onClosed(std::function<void()> closed) override {
        if (session_.empty() || closedSubscription_) return;
        {
            std::lock_guard guard(closedLock_);
            closedHandler_ = std::move(closed);
        }
        signals_ = std::make_unique<SignalThread>();
        // A subscription delivers on the thread-default context of the caller.
        g_main_context_push_thread_default(signals_->context());
        closedSubscription_ = g_dbus_connection_signal_subscribe(
            connection_.get(), kBusName, kSession, "Closed", session_.c_str(), nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant*,
               gpointer self) { static_cast<Portal*>(self)->sessionClosed(); },
            this, nullptr);
        g_main_context_pop_thread_default(signals_->context());
    }

    void close() override {
        if (session_.empty() || closed_.exchange(true)) return;
        GError* raw = nullptr;
        // The movie and the click log wait on this: a hung portal gets half a second.
        Variant reply(g_dbus_connection_call_sync(
            connection_.get(), kBusName, session_.c_str(), kSession, "Close", nullptr, nullptr,
            G_DBUS_CALL_FLAGS_NONE, kCloseMilliseconds, nullptr, &raw));
        Error error(raw); // the session may be gone already
        g_dbus_connection_flush_sync(connection_.get(), nullptr, nullptr);
    }

  private:
    void sessionClosed() {
        if (closed_.exchange(true)) return; // closed by us, or told already
        std::function<void()> handler;
        {
            std::lock_guard guard(closedLock_);
            handler = std::move(closedHandler_);
        }
        if (handler) handler();
    }

    std::string nextToken() { return "quorvane" + std::to_string(++tokens_); }

    std::string requestPath(const std::string& token) const {
        return std::string(kObjectPath) + "/request/" + sender_ + "/" + token;
    }

    // One call in the portal's Request pattern: subscribe to the Response
    // of the request's object, call, and wait for the answer at most `wait`.
    Variant request(const char* method, GVariant* parameters, const std::string& token,
                    std::chrono::milliseconds wait) {
        OwnContext context;
        Pending pending;
        std::string path = requestPath(token);
        auto subscribe = [&](const std::string& p) {
            return g_dbus_connection_signal_subscribe(
                connection_.get(), nullptr, kRequest, "Response", p.c_str(), nullptr,
                G_DBUS_SIGNAL_FLAGS_NONE, onResponse, &pending, nullptr);
        };
        guint subscription = subscribe(path);

        GError* raw = nullptr;
        Variant reply(g_dbus_connection_call_sync(connection_.get(), kBusName, kObjectPath,
                                                  kScreenCast, method, parameters,
                                                  G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE,
                                                  milliseconds(timeouts_.call), nullptr, &raw));
        Error error(raw);
        if (!reply) {
            g_dbus_connection_signal_unsubscribe(connection_.get(), subscription);
            throw ScreenCaptureError("The desktop portal cannot start a screen cast: " +
                                     describe(error.get()));
        }
        const char* handle = nullptr;
        g_variant_get(reply.get(), "(&o)", &handle);
        if (path != handle) { // an older portal names its own request object
            g_dbus_connection_signal_unsubscribe(connection_.get(), subscription);
            path = handle;
            subscription = subscribe(path);
        }

        GSource* timer = g_timeout_source_new(static_cast<guint>(milliseconds(wait)));
        g_source_set_callback(
            timer,
            [](gpointer data) -> gboolean {
                static_cast<Pending*>(data)->timedOut = true;
                return G_SOURCE_REMOVE;
            },
            &pending, nullptr);
        g_source_attach(timer, context.get());
        while (!pending.done && !pending.timedOut)
            g_main_context_iteration(context.get(), TRUE);
        g_source_destroy(timer);
        g_source_unref(timer);
        g_dbus_connection_signal_unsubscribe(connection_.get(), subscription);

        if (!pending.done) {
            // Take the picker away rather than leave it waiting for nobody.
            GError* closeError = nullptr;
            Variant closed(g_dbus_connection_call_sync(
                connection_.get(), kBusName, path.c_str(), kRequest, "Close", nullptr, nullptr,
                G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &closeError));
            Error ignored(closeError);
            throw ScreenAccessRefused("No answer came from the desktop in time.");
        }
        if (pending.response == 1) throw ScreenAccessRefused("The screen cast was cancelled.");
        if (pending.response != 0)
            throw ScreenAccessRefused("The desktop refused the screen cast.");
        if (!pending.results)
            pending.results.reset(
                g_variant_ref_sink(g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)));
        return std::move(pending.results);
    }

    static StartedCast started(GVariant* results) {
        Variant streams(g_variant_lookup_value(results, "streams", G_VARIANT_TYPE("a(ua{sv})")));
        if (!streams || g_variant_n_children(streams.get()) == 0)
            throw ScreenCaptureError("The desktop portal started no stream.");
        StartedCast cast;
        Variant first(g_variant_get_child_value(streams.get(), 0));
        GVariant* properties = nullptr;
        g_variant_get(first.get(), "(u@a{sv})", &cast.node, &properties);
        Variant owned(properties);
        gint32 a = 0;
        gint32 b = 0;
        if (g_variant_lookup(properties, "position", "(ii)", &a, &b)) cast.position = {a, b};
        if (g_variant_lookup(properties, "size", "(ii)", &a, &b)) cast.size = {a, b};
        const char* token = nullptr;
        if (g_variant_lookup(results, "restore_token", "&s", &token) && token)
            cast.restoreToken = std::string(token);
        return cast;
    }

    std::unique_ptr<GDBusConnection, ObjectFree> connection_;
    const Timeouts timeouts_;
    std::string sender_;
    std::string session_;
    std::atomic<bool> closed_{false};
    int tokens_ = 0;
    std::mutex closedLock_;
    std::function<void()> closedHandler_;
    guint closedSubscription_ = 0;
    std::unique_ptr<SignalThread> signals_;
};

} // namespace

std::unique_ptr<ScreenCastPortal> ScreenCastPortal::connect(Timeouts timeouts) {
    GError* raw = nullptr;
    char* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &raw);
    Error error(raw);
    if (!address)
        throw ScreenCaptureError("Quorvane cannot reach the desktop's session bus: " +
                                 describe(error.get()));
    GError* raw2 = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &raw2);
    g_free(address);
    Error error2(raw2);
    if (!connection)
        throw ScreenCaptureError("Quorvane cannot reach the desktop's session bus: " +
                                 describe(error2.get()));
    return std::make_unique<Portal>(connection, timeouts);
}

} // namespace quorvane::backends::portal
