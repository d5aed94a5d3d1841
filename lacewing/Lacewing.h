// Lacewing::Webserver: the small HTTP server library the service loads. GET requests on a local
// port, answered by one handler; only plain types cross the library's boundary.
#pragma once

#ifdef LACEWING_BUILD
#define LACEWING_API __declspec(dllexport)
#else
#define LACEWING_API __declspec(dllimport)
#endif

namespace Lacewing {

namespace HandlerMode {
enum Type { Default = 0 };
}

class LACEWING_API Webserver {
public:
    class LACEWING_API Request {
    public:
        void* Internal;   // the exchange this request belongs to
        const char* URL;  // requested target with its query, as sent ("/path?query")
        const char* Method;

        // Appends text to the response body, sent when the handler returns.
        Request& operator<<(const char* text);
        Request& operator<<(int number);
    };

    typedef void (*HandlerGet)(Webserver& server, Request& request);

    Webserver();
    ~Webserver();
    Webserver(const Webserver&) = delete;
    Webserver& operator=(const Webserver&) = delete;

    void RegisterHandlerGet(HandlerGet handler, HandlerMode::Type mode = HandlerMode::Default);
    // Listens on 127.0.0.1 at port; Hosting tells whether that worked.
    void Host(int port);
    bool Hosting();
    void Unhost();
    // Port actually listened on (0 when not hosting).
    int Port();

    void* Tag;  // free for the owner

private:
    struct Impl;
    Impl* m_pImpl;
};

namespace Utility {
LACEWING_API void Pause(int milliseconds);
}

}  // namespace Lacewing
