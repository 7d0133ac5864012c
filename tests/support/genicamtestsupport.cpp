#include "tests/support/genicamtestsupport.h"

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VYX_TSAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define VYX_TSAN 1
#endif

#if defined(VYX_TSAN)
// GLib and Aravis are not built for ThreadSanitizer: it cannot see their locks (futexes), so
// their own calls (memory, files, threads) are left out of its view. Races in our code stay
// reported, also where GLib or Aravis called it.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
    return "called_from_lib:libglib-2.0.so.0\n"
           "called_from_lib:libgobject-2.0.so.0\n"
           "called_from_lib:libgio-2.0.so.0\n"
           "called_from_lib:libaravis-0.8.so.0\n";
}
#endif

namespace vyx::test {

std::string GenicamIni(const std::string& device, const std::string& extra) {
    return "[GenICam]\ndevice = " + device +
           "\npixel_width_mm = 0.0055\npixel_height_mm = 0.0055\n" + extra;
}

std::string FakeGenicamCamera::Unavailable(Kind kind) {
#if !defined(VYX_HAVE_GENICAM)
    return "GenICam back end not built: Aravis 0.8 (libaravis-dev) is missing; scripts/deps "
           "installs it";
#endif
    if (kind == Kind::GigE && FakeGigECamera::Program().empty())
        return "arv-fake-gv-camera-0.8 is not installed (Debian package aravis-tools; "
               "scripts/deps installs it)";
    return std::string();
}

bool FakeGenicamCamera::Start(Kind kind, std::string& why, unsigned lossPerThousand) {
    m_kind = kind;
    why = Unavailable(kind);
    if (!why.empty())
        return false;
    if (kind == Kind::InProcess)
        return true;
    FakeGigECamera::Options options;
    options.lossPerThousand = lossPerThousand;
    return m_gige.Start(options, why);
}

std::string FakeGenicamCamera::Ini(const std::string& extra) const {
    return GenicamIni(m_kind == Kind::GigE ? m_gige.Address() : "Fake_1", extra);
}

} // namespace vyx::test
