#include "mt_proxy/camera/mmachabstract/mcameraconfigdir.h"

#include "msl/mfileio/mdirtools.h"
#include "msl/mfileio/mfileops.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <vector>

namespace {

bool CollectDirectory(void* context, const std::string& path) {
    static_cast<std::vector<std::string>*>(context)->push_back(path);
    return true;
}

// Installations of an old machine type whose configuration must not be taken over.
bool IsSkippedInstallation(const std::string& path) {
    static const std::string kSuffix = "0000_08";
    const size_t n = path.size();
    if (n >= kSuffix.size() && path.compare(n - kSuffix.size(), kSuffix.size(), kSuffix) == 0)
        return true;
    return n >= kSuffix.size() + 1 &&
           path.compare(n - kSuffix.size() - 1, kSuffix.size(), kSuffix) == 0;
}

} // namespace

bool create_config_dir(const std::string& path) {
    if (dir_exists(path.c_str())) {
        MTRACE(5, "create_config_dir(): %s exists", path.c_str());
        return true;
    }
    if (!varn::createDirectoryRecursive(path)) {
        MERRTRACE("create_config_dir(): failed to create %s", path.c_str());
        return false;
    }
    MTRACE(3, "create_config_dir(): configuration directory %s created", path.c_str());
    const std::string oldDirs[] = {file_join(path, "../../../machines/Pellorscope"),
                                   file_join(path, "../../../..")};
    for (const std::string& oldDir : oldDirs)
        if (!copy_old_config_dir(path, oldDir))
            MERRTRACE("%s(): copy_old_config_dir(%s, %s) failed",
                      "MCameraMachAbstract::create_config_dir", path.c_str(), oldDir.c_str());
    return true;
}

bool copy_old_config_dir(const std::string& newDir, const std::string& oldDir) {
    std::vector<std::string> subdirs;
    {
        // An old installation that is not there is the normal case, not a failure.
        MErrTrace_BeginContext();
        const bool listed = iterateDirectory(oldDir, MDIR_NO_RECURSION, nullptr, nullptr,
                                             CollectDirectory, &subdirs);
        MErrTrace_ClearContext();
        MErrTrace_EndContext();
        if (!listed || subdirs.empty())
            return true;
    }
    std::string source;
    for (const std::string& subdir : subdirs) {
        if (subdirs.size() > 1 && IsSkippedInstallation(subdir))
            continue;
        const std::string candidate = file_join(subdir, "camera");
        if (dir_exists(candidate.c_str())) {
            source = candidate;
            break;
        }
    }
    if (source.empty())
        return true;
    // The copy refuses an existing target, and the new folder is still empty.
    dir_rm(newDir.c_str());
    if (!copyDirectory(source, newDir)) {
        // The machine goes on in this folder: it must exist even when the seeding failed.
        if (!dir_exists(newDir.c_str()))
            dir_mk(newDir.c_str());
        MERRTRACE("%s(): copyDirectory(%s, %s, ...) failed", "copy_old_config_dir", source.c_str(),
                  newDir.c_str());
        return false;
    }
    MTRACE(2, "%s(): Copied old files from %s", "copy_old_config_dir", source.c_str());
    return true;
}
