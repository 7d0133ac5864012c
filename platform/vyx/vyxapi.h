#pragma once
// Export marker of the camera device library. The project builds with hidden
// visibility, so everything a caller of libvyx_base reaches carries VYX_API.

#if defined(_WIN32)
#if defined(VYX_BASE_BUILD)
#define VYX_API __declspec(dllexport)
#else
#define VYX_API __declspec(dllimport)
#endif
#else
#define VYX_API __attribute__((visibility("default")))
#endif
