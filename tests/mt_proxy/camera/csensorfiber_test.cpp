// The fibre sensor on the simulated KR7700: its parameter block through property data, user
// data and the "light" channel, and the saved positions of its writable channels.

#include "msl/mstreams/stlbase64.h"
#include "msl/mutil/minidata.h"
#include "mt_proxy/camera/misc/csensorfiber.h"
#include "platform/trace/tracecapture.h"
#include "tests/mt_proxy/camera/camerasensortestutil.h"

#include <cstdio>

using namespace cameratest;
using vyx::trace::TraceCapture;

namespace {

// A look-up table of `count` lines, entry i = i * scale / 2047, base64-encoded.
std::string Lut(int count, double scale) {
    std::string text;
    char line[32];
    for (int i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, "%f\n", i * scale / 2047.0);
        text += line;
    }
    EXPECT_TRUE(stl_encode_base64(text));
    return text;
}

Vyx::CParamKR7700 CameraBlock() {
    Vyx::CParamKR7700 block;
    EXPECT_TRUE(Vyx::CImgSensors::GetInstance()->GetSmartParam(&block, 0));
    return block;
}

class FibreSensor : public CameraSensorTest {
protected:
    // The fibre sensor in `fibre`; use it through ASSERT_NO_FATAL_FAILURE.
    void CreateFibre(const std::string& more = "") {
        Create("Model = fibre\nCIFMode = 6\nFlashFile = " + dir.File("flash.ini") + "\n" + more);
        fibre = dynamic_cast<CSensorFiber*>(camera);
        ASSERT_NE(fibre, nullptr);
    }
    CSensorFiber* fibre = nullptr;
    // The property data as the sensor hands it out, with [Camera] entries replaced
    // (an empty value deletes the entry).
    std::string PropertyData(std::initializer_list<std::pair<const char*, std::string>> entries) {
        std::string text;
        camera->GetPropertyData(text);
        MIniData doc;
        doc.SetContentString(text);
        for (const auto& [key, value] : entries)
            value.empty() ? doc.DeleteEntry("Camera", key)
                          : doc.SetStringEntry("Camera", key, value);
        return doc.GetContentString();
    }
};

} // namespace

TEST_F(FibreSensor, ItsBlockAsPropertyDataAndUserData) {
    ASSERT_NO_FATAL_FAILURE(CreateFibre("DeltaZ = 0.5\n"));
    EXPECT_TRUE(Vyx::SimControl::GetState().grabbing);
    EXPECT_EQ(fibre->GetPropertyCount(), 6u);
    const CSensorChannelTable& table = fibre->GetPropertyTable();
    EXPECT_EQ(std::tie(table.at("light").step, table.at("light").access),
              std::make_tuple(0.000474, CSENSOR_ACCESS_RW));
    EXPECT_EQ(table.at("imagewidth").access, CSENSOR_ACCESS_R);
    EXPECT_EQ(Value("light"), 0.5);

    TraceCapture capture;
    // The block as property data: the LUT of 2048 lines from 0 to 1.
    const std::string text = PropertyData({});
    ExpectEntries(text, "Camera", "make_persistent=0 DeltaZ=0.5 send=true");
    std::string lut = Entry(text, "Camera", "LUT");
    ASSERT_TRUE(stl_decode_base64(lut));
    EXPECT_EQ(std::count(lut.begin(), lut.end(), '\n'), 2048);
    EXPECT_EQ(lut.substr(lut.size() - 9), "1.000000\n");

    // Without "send" nothing reaches the camera.
    ASSERT_TRUE(camera->SetPropertyData(PropertyData({{"DeltaZ", "0.25"}, {"send", ""}})));
    EXPECT_EQ(CameraBlock().DeltaZ, 0.5f);

    EXPECT_FALSE(camera->SetPropertyData(PropertyData({{"LUT", Lut(2047, 0.5)}})));
    EXPECT_EQ(
        capture.CountErrTrace(
            "SetUserData(): invalid look-up table size: expected 2048 entries, got only 2047"),
        1);
    EXPECT_FALSE(camera->SetPropertyData(PropertyData({{"LUT", "not base64!"}})));
    EXPECT_EQ(capture.CountErrTrace("SetUserData(): stl_decode_base64() failed"), 1);
    EXPECT_EQ(CameraBlock().LUT[2047], 1.0f);

    const uint32_t flashed = Vyx::SimControl::GetState().flashCount;
    ASSERT_TRUE(camera->SetPropertyData(PropertyData({{"LUT", Lut(2048, 0.5)},
                                                      {"DeltaZ", "0.25"},
                                                      {"DACRngMax", "0.75"},
                                                      {"make_persistent", "1"}})))
        << capture.Dump();
    Vyx::CParamKR7700 block = CameraBlock();
    EXPECT_EQ(block.LUT[2047], 0.5f);
    EXPECT_NEAR(block.LUT[1000], 1000 * 0.5 / 2047, 1e-6);
    EXPECT_EQ(std::make_tuple(block.DeltaZ, block.DACRngMax), std::make_tuple(0.25f, 0.75f));
    EXPECT_EQ(Vyx::SimControl::GetState().flashCount, flashed + 1);
    // The sensor hands out what the camera now holds.
    EXPECT_EQ(Entry(PropertyData({}), "Camera", "DACRngMax"), "0.75");

    // User data sets the camera's parameters too.
    ASSERT_TRUE(fibre->SetUserData("[Camera]\nCIFMode=4\nQLimit=0.7\nErrMaxCnt=12\nAESpeed=2\n"
                                   "TransferMode=2\n"))
        << capture.Dump();
    block = CameraBlock();
    EXPECT_EQ(std::make_tuple(block.CIFMode, block.QLimit, block.ErrMaxCnt, block.AESpeed),
              std::make_tuple(6, 0.7f, uint16_t{12}, 2.0f));
    EXPECT_EQ(Vyx::SimControl::GetState().transferVolume, 2);

    // Only the missing camera keys are added; present ones keep their text.
    ASSERT_TRUE(fibre->SetUserData("[Camera]\nQLimit=0.70\n"));
    std::string userData;
    ASSERT_TRUE(fibre->GetUserData(userData));
    ExpectEntries(userData, "Camera",
                  "QLimit=0.70 CIFMode=6 ErrMaxCnt=12 TransferMode=2 PhaseOff=0");

    // A block the camera refuses is read back, so the sensor shows what the camera has.
    EXPECT_FALSE(fibre->SetUserData("[Camera]\nTransferMode=9\n"));
    EXPECT_EQ(capture.CountErrTrace("CSensorFiber::SetUserData(): SetDataTransferVolume() failed"),
              1);
    Vyx::SimControl::SetCallFailure(Vyx::SimCall::SetSmartParam, true);
    EXPECT_FALSE(fibre->SetUserData("[Camera]\nQLimit=0.2\n"));
    EXPECT_EQ(capture.CountErrTrace("CSensorFiber::SetUserData(): SetSmartParam() failed"), 1);
    EXPECT_EQ(fibre->GetParameters().QLimit, 0.7f);
}

TEST_F(FibreSensor, LightAndWritableChannelsSurviveARestart) {
    const std::string userData = "[Configdir]\ndir=" + dir.Path() + "\n";
    ASSERT_NO_FATAL_FAILURE(CreateFibre());
    ASSERT_TRUE(fibre->SetUserData(userData));
    ASSERT_TRUE(Set({{"light", 0.25}, {"gain", 0.75}}));
    EXPECT_EQ(CameraBlock().light, 0.25f); // "light" is the block's light
    TraceCapture capture;
    EXPECT_FALSE(Set({{"light", 2.0}}));
    EXPECT_EQ(capture.CountErrTrace("SetPropertyValue(): SetSmartParam() failed"), 1);
    EXPECT_EQ(Value("light"), 0.25);
    sensor.reset();

    // Not the read-only "imagewidth".
    ExpectEntries(vyx::test::ReadFileBytes(dir.File(CSensorFiber::kPositionsFile)),
                  "SavedPositions", "light=0.25 gain=0.75 imagewidth=<missing>");

    ASSERT_NO_FATAL_FAILURE(CreateFibre());
    EXPECT_EQ(Value("light"), 0.5); // the camera's power-on value
    ASSERT_TRUE(fibre->SetUserData(userData));
    EXPECT_EQ(std::make_tuple(Value("light"), Value("gain")), std::make_tuple(0.25, 0.75));

    // Without a configuration directory there is nowhere to keep them.
    ASSERT_NO_FATAL_FAILURE(CreateFibre());
    sensor.reset();
    EXPECT_EQ(capture.CountErrTrace("CSensorFiber::save_axis_positions(): failed to open "
                                    "csensorfiber.ini. Not saving old axes positions"),
              1);
    EXPECT_EQ(capture.CountErrTrace("CSensorFiber::~CSensorFiber(): save_axis_positions() failed"),
              1);
    EXPECT_FALSE(Vyx::SimControl::GetState().initialised);
}
