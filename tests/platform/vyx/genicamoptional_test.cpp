// Camera features that not every GenICam camera has: pixel size, temperature, a light and a
// user set. Aravis's in-process test camera gets them from a description of its own (its
// standard one with these features added), which the test hands to Aravis directly.

#include "tests/platform/vyx/simtestsupport.h"
#include "tests/support/genicamtestsupport.h"

#if defined(VYX_TEST_WITH_ARAVIS)
#include <arv.h>
#endif

#include <gtest/gtest.h>

#include <string>

using vyx::test::FakeGenicamCamera;
using vyx::test::FrameSink;

namespace {

class GenicamOptionalConcurrency : public vyx::test::CameraIniTest {
protected:
    void SetUp() override {
#if defined(VYX_TEST_WITH_ARAVIS)
        arv_enable_interface("Fake");
        GError* error = nullptr;
        ArvCamera* fake = arv_camera_new("Fake_1", &error);
        ASSERT_NE(fake, nullptr);
        size_t size = 0;
        const char* xml = arv_device_get_genicam_xml(arv_camera_get_device(fake), &size);
        std::string description(xml, size);
        g_object_unref(fake);
        const size_t port = description.find("<Port Name=\"Device\"");
        ASSERT_NE(port, std::string::npos);
        description.insert(port, kFeatures);
        ASSERT_TRUE(vyx::test::WriteFileBytes(dir.File("camera.xml"), description));
        // Test cameras made from now on describe themselves with it.
        arv_set_fake_camera_genicam_filename(dir.File("camera.xml").c_str());
#else
        GTEST_SKIP() << FakeGenicamCamera::Unavailable(FakeGenicamCamera::Kind::InProcess);
#endif
    }
    void TearDown() override {
        CameraIniTest::TearDown();
#if defined(VYX_TEST_WITH_ARAVIS)
        arv_set_fake_camera_genicam_filename(nullptr);
#endif
    }
    static constexpr const char* kFeatures = R"(
	<Float Name="DeviceTemperature" NameSpace="Standard"><Value>41.5</Value></Float>
	<Float Name="SensorPixelWidth" NameSpace="Standard"><Value>3.45</Value></Float>
	<Float Name="SensorPixelHeight" NameSpace="Standard"><Value>2.5</Value></Float>
	<Integer Name="Lamp" NameSpace="Custom">
		<pValue>LampRegister</pValue><Min>0</Min><Max>100</Max>
	</Integer>
	<Enumeration Name="UserSetSelector" NameSpace="Standard">
		<EnumEntry Name="Default"><Value>0</Value></EnumEntry>
		<EnumEntry Name="UserSet1"><Value>1</Value></EnumEntry>
		<pValue>UserSetSelectorRegister</pValue>
	</Enumeration>
	<Command Name="UserSetSave" NameSpace="Standard">
		<pValue>UserSetSaveRegister</pValue><CommandValue>1</CommandValue>
	</Command>
	<Enumeration Name="UserSetDefault" NameSpace="Standard">
		<EnumEntry Name="Default"><Value>0</Value></EnumEntry>
		<EnumEntry Name="UserSet1"><Value>1</Value></EnumEntry>
		<pValue>UserSetDefaultRegister</pValue>
	</Enumeration>
	<IntReg Name="LampRegister"><Address>0x8000</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>BigEndian</Endianess></IntReg>
	<IntReg Name="UserSetSelectorRegister"><Address>0x8004</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>BigEndian</Endianess></IntReg>
	<IntReg Name="UserSetSaveRegister"><Address>0x8008</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>BigEndian</Endianess></IntReg>
	<IntReg Name="UserSetDefaultRegister"><Address>0x800c</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>BigEndian</Endianess></IntReg>
	)";
};

} // namespace

TEST_F(GenicamOptionalConcurrency, PixelSizeTemperatureLightAndUserSet) {
    // No pixel size in the configuration: the camera tells its own, in micrometres.
    ASSERT_NE(OpenIni("[GenICam]\ndevice = Fake_1\nlight = Lamp\n"), nullptr);
    double width = 0, height = 0;
    ASSERT_EQ(camera->GetPixelSize(&width, &height, 0), 1);
    EXPECT_DOUBLE_EQ(width, 0.00345);
    EXPECT_DOUBLE_EQ(height, 0.0025);
    std::set<int32_t> caps;
    ASSERT_TRUE(camera->GetImageMemoryCaps(&caps, 0));
    EXPECT_EQ(caps, (std::set<int32_t>{Vyx::ImgCap_TemperatureSensor, Vyx::ImgCap_PartialScan,
                                       Vyx::ImgCap_LightControl}));

    double light = -1;
    ASSERT_TRUE(camera->SetLightIntensity(0, 60, 0)) << Error();
    ASSERT_TRUE(camera->GetLightIntensity(0, &light, 0));
    EXPECT_EQ(light, 60);
    EXPECT_FALSE(camera->SetLightIntensity(0, 150, 0));
    EXPECT_EQ(Error(), "SetLightIntensity(): 150 outside 0..100");
    EXPECT_FALSE(camera->SetLightIntensity(1, 50, 0));
    EXPECT_EQ(Error(), "SetLightIntensity(): no light channel 1");
    EXPECT_TRUE(camera->FlashSettings(0)) << Error();

    // Every frame carries the camera temperature.
    FrameSink sink;
    ASSERT_TRUE(GrabInto(sink)) << Error();
    ASSERT_TRUE(sink.WaitFor(3));
    ASSERT_TRUE(camera->Freeze(0));
    for (const vyx::test::SeenFrame& f : sink.Frames()) {
        EXPECT_TRUE(f.hasTemperature);
        EXPECT_EQ(f.temperature, 41.5);
    }
    ASSERT_TRUE(camera->UnregisterImgStreamInput(&sink, FrameSink::Callback, 0));

    // The configuration names the user set; one the camera lacks is refused.
    camera->Uninitialize(0);
    ASSERT_NE(OpenIni("[GenICam]\ndevice = Fake_1\nuser_set = UserSet9\n"), nullptr);
    EXPECT_FALSE(camera->FlashSettings(0));
    EXPECT_THAT(Error(), ::testing::HasSubstr(
                             "FlashSettings(): camera Fake_1 cannot save user set UserSet9"));
}
