#pragma once
// The video renderer's window control (IVideoWindow) and the mixing
// renderer's interfaces.
//
// Windows are Qt widgets: OAHWND is a QWidget pointer (null: none). The
// renderer window is a child widget of its owner; put_Caption also sets its
// objectName, so the owner finds it as its child named after the caption, and
// its "windowClass" dynamic property reads "VideoRenderer". The message drain
// receives the renderer window's mouse and keyboard events.
#include "platform/FilterInterfaces.h"

class QWidget;
using OAHWND = QWidget*;

inline constexpr LONG OATRUE = -1;
inline constexpr LONG OAFALSE = 0;

// Window styles the renderer window understands.
inline constexpr LONG WS_CHILD = 0x40000000;
inline constexpr LONG WS_CLIPSIBLINGS = 0x04000000;
inline constexpr LONG WS_CLIPCHILDREN = 0x02000000;
inline constexpr LONG WS_CAPTION = 0x00C00000;
inline constexpr LONG WS_THICKFRAME = 0x00040000;
inline constexpr LONG WS_EX_TOPMOST = 0x00000008;

struct IVideoWindow : IUnknown {
    static constexpr GUID Iid{
        0x56A868B4, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
    using Base = IUnknown;
    virtual HRESULT put_Caption(const std::string& caption) = 0;
    virtual HRESULT get_Caption(std::string& caption) = 0;
    virtual HRESULT put_WindowStyle(LONG style) = 0;
    virtual HRESULT get_WindowStyle(LONG* style) = 0;
    virtual HRESULT put_WindowStyleEx(LONG style) = 0;
    virtual HRESULT get_WindowStyleEx(LONG* style) = 0;
    virtual HRESULT put_AutoShow(LONG) { return E_NOTIMPL; }
    virtual HRESULT get_AutoShow(LONG*) { return E_NOTIMPL; }
    // OATRUE / OAFALSE.
    virtual HRESULT put_Visible(LONG visible) = 0;
    virtual HRESULT get_Visible(LONG* visible) = 0;
    // Reparents the renderer window into owner (null: a top-level window).
    virtual HRESULT put_Owner(OAHWND owner) = 0;
    virtual HRESULT get_Owner(OAHWND* owner) = 0;
    virtual HRESULT put_MessageDrain(OAHWND drain) = 0;
    virtual HRESULT get_MessageDrain(OAHWND* drain) = 0;
    virtual HRESULT put_FullScreenMode(LONG) { return E_NOTIMPL; }
    virtual HRESULT get_FullScreenMode(LONG*) { return E_NOTIMPL; }
    // Position in the owner's coordinates (the screen's without owner).
    virtual HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) = 0;
    virtual HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
    virtual HRESULT SetWindowForeground(LONG) { return E_NOTIMPL; }
    virtual HRESULT HideCursor(LONG) { return E_NOTIMPL; }
    // Not in the original interface: the renderer window itself (null while
    // it does not exist).
    virtual HRESULT GetRendererWindow(OAHWND* window) = 0;
};
inline constexpr const GUID& IID_IVideoWindow = IVideoWindow::Iid;

// Mixing renderer 9: declared for the video window's VMR mode. The platform
// registers no class for it, so creating it fails and the classic renderer is used.
enum VMR9Mode : DWORD { VMR9Mode_Windowed = 1, VMR9Mode_Windowless = 2, VMR9Mode_Renderless = 4 };
enum VMR9AspectRatioMode : DWORD { VMR9ARMode_None = 0, VMR9ARMode_LetterBox = 1 };

struct IVMRFilterConfig9 : IUnknown {
    static constexpr GUID Iid{
        0x5A804648, 0x4F66, 0x4867, {0x9C, 0x43, 0x4F, 0x5C, 0x82, 0x2C, 0xF1, 0xB8}};
    using Base = IUnknown;
    virtual HRESULT SetNumberOfStreams(DWORD streams) = 0;
    virtual HRESULT GetNumberOfStreams(DWORD* streams) = 0;
    virtual HRESULT SetRenderingPrefs(DWORD prefs) = 0;
    virtual HRESULT GetRenderingPrefs(DWORD* prefs) = 0;
    virtual HRESULT SetRenderingMode(DWORD mode) = 0;
    virtual HRESULT GetRenderingMode(DWORD* mode) = 0;
};

struct IVMRWindowlessControl9 : IUnknown {
    static constexpr GUID Iid{
        0x8F537D09, 0xF85E, 0x4414, {0xB2, 0x3B, 0x50, 0x2E, 0x54, 0xC7, 0x99, 0x27}};
    using Base = IUnknown;
    virtual HRESULT SetVideoPosition(const RECT* source, const RECT* dest) = 0;
    virtual HRESULT SetAspectRatioMode(DWORD mode) = 0;
    virtual HRESULT SetVideoClippingWindow(OAHWND window) = 0;
    virtual HRESULT RepaintVideo(OAHWND, void*) { return E_NOTIMPL; }
};

struct IVMRAspectRatioControl9 : IUnknown {
    static constexpr GUID Iid{
        0x00D96C29, 0xBBDE, 0x4EFC, {0x99, 0x01, 0xBB, 0x50, 0x36, 0x39, 0x21, 0x46}};
    using Base = IUnknown;
    virtual HRESULT GetAspectRatioMode(DWORD* mode) = 0;
    virtual HRESULT SetAspectRatioMode(DWORD mode) = 0;
};

inline constexpr const GUID& IID_IVMRFilterConfig9 = IVMRFilterConfig9::Iid;
inline constexpr const GUID& IID_IVMRWindowlessControl9 = IVMRWindowlessControl9::Iid;
inline constexpr const GUID& IID_IVMRAspectRatioControl9 = IVMRAspectRatioControl9::Iid;

inline constexpr GUID CLSID_VideoRenderer{
    0x70E102B0, 0x5556, 0x11CE, {0x97, 0xC0, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr GUID CLSID_VideoMixingRenderer9{
    0x51B4ABF3, 0x748F, 0x4E3B, {0xA2, 0x76, 0xC8, 0x28, 0x33, 0x0E, 0x92, 0x6A}};
