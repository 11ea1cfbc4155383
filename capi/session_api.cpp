// The C API's sessions: a port with a cancel token of its own, whose
// destruction cancels the calls running on it and waits for them.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "capi/api_support.h"
#include "capi/quorvel.h"

// A session's calls in progress are counted, so that destroy can wait for them.
struct quorvel_session {
    std::string port;
    quorvel_cancel cancel;
    std::mutex mutex;
    std::condition_variable idle;  // notified when `calls` drops to 0
    int calls = 0;
};

namespace {

// Counts a call on a session from its start to its return.
class SessionCall {
  public:
    explicit SessionCall(quorvel_session& session) : session_(session) {
        const std::lock_guard<std::mutex> lock(session_.mutex);
        ++session_.calls;
    }
    ~SessionCall() {
        const std::lock_guard<std::mutex> lock(session_.mutex);
        if (--session_.calls == 0) session_.idle.notify_all();
    }
    SessionCall(const SessionCall&) = delete;
    SessionCall& operator=(const SessionCall&) = delete;

  private:
    quorvel_session& session_;
};

}  // namespace

extern "C" {

int quorvel_session_create(const char* port, quorvel_session** session) {
    if (session == nullptr) return QUORVEL_STATUS_ARGUMENTS;
    *session = nullptr;
    if (port == nullptr || *port == '\0') return QUORVEL_STATUS_ARGUMENTS;
    return guarded(nullptr, [&] {
        auto created = std::make_unique<quorvel_session>();
        created->port = port;
        *session = created.release();
        return QUORVEL_STATUS_OK;
    });
}

int quorvel_session_identify(quorvel_session* session, quorvel_result* result) {
    if (session == nullptr) return QUORVEL_STATUS_ARGUMENTS;
    return guarded(result, [&] {
        const SessionCall call(*session);
        return quorvel_identify(session->port.c_str(), &session->cancel, result);
    });
}

int quorvel_session_flash(quorvel_session* session, const quorvel_image* image,
                          const quorvel_flash_options* options, quorvel_result* result) {
    if (session == nullptr) return QUORVEL_STATUS_ARGUMENTS;
    return guarded(result, [&] {
        const SessionCall call(*session);
        // Options of another size are refused by quorvel_flash as they are.
        quorvel_flash_options watched{};
        watched.size = sizeof watched;
        if (options != nullptr && options->size == sizeof watched) watched = *options;
        if (options != nullptr && options->size != sizeof watched) {
            return quorvel_flash(session->port.c_str(), image, options, result);
        }
        if (watched.cancel == nullptr) watched.cancel = &session->cancel;
        return quorvel_flash(session->port.c_str(), image, &watched, result);
    });
}

int quorvel_session_cancel(quorvel_session* session) {
    return session != nullptr ? quorvel_cancel_request(&session->cancel) : QUORVEL_STATUS_ARGUMENTS;
}

int quorvel_session_reset(quorvel_session* session) {
    return session != nullptr ? quorvel_cancel_reset(&session->cancel) : QUORVEL_STATUS_ARGUMENTS;
}

int quorvel_session_destroy(quorvel_session* session) {
    if (session == nullptr) return QUORVEL_STATUS_OK;
    return guarded(nullptr, [&] {
        quorvel_cancel_request(&session->cancel);
        {
            std::unique_lock<std::mutex> lock(session->mutex);
            session->idle.wait(lock, [session] { return session->calls == 0; });
        }
        delete session;
        return QUORVEL_STATUS_OK;
    });
}

}  // extern "C"
