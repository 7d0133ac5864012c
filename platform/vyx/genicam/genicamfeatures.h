#pragma once
// GenICam features of one camera by name, with Aravis's errors turned into messages. The
// caller serialises every use: Aravis's feature tree is not safe across threads.

#include <cstdint>
#include <string>

typedef struct _ArvCamera ArvCamera;

namespace Vyx::genicam {

class CGenicamFeatures {
public:
    explicit CGenicamFeatures(ArvCamera* camera) : m_camera(camera) {}

    // Implemented and available now.
    bool Has(const char* feature) const;
    // The feature is a Float (else, if it exists, an Integer or something else).
    bool IsFloat(const char* feature) const;
    bool IsInteger(const char* feature) const;

    bool GetString(const char* feature, std::string& value, std::string& why) const;
    bool SetString(const char* feature, const std::string& value, std::string& why) const;
    bool GetInteger(const char* feature, int64_t& value, std::string& why) const;
    bool IntegerLimits(const char* feature, int64_t& minimum, int64_t& maximum, int64_t& increment,
                       std::string& why) const;
    bool GetFloat(const char* feature, double& value, std::string& why) const;
    bool SetFloat(const char* feature, double value, std::string& why) const;
    bool FloatLimits(const char* feature, double& minimum, double& maximum, std::string& why) const;
    bool Execute(const char* feature, std::string& why) const;

    // A Float or Integer feature as a number.
    bool GetNumber(const char* feature, double& value, std::string& why) const;
    bool SetNumber(const char* feature, double value, std::string& why) const;
    bool NumberLimits(const char* feature, double& minimum, double& maximum,
                      std::string& why) const;

private:
    ArvCamera* m_camera;
};

} // namespace Vyx::genicam
