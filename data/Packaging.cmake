# The Debian package (`make deb`, or cpack -G DEB in the build folder).
# Included from the top CMakeLists after every install rule.

# The GStreamer plugin packages the program loads at run time. The binary's
# libraries give the rest of Depends (dpkg-shlibdeps), but elements are made
# by name when a pipeline is built, so nothing links to these:
#   -base    test sources, converters, appsink, audiobuffersplit, vorbisenc
#   -good    v4l2src, pulsesrc, avimux, vp8enc, webmmux, flvmux, shout2send, jpegdec
#   -bad     asfmux, rtmp2sink, voaacenc, h264parse (and webrtcbin next)
#   -ugly    x264enc
#   -libav   avenc_wmv2, avenc_wmav2, avenc_aac
#   nice     ICE for webrtcbin (the WebRTC output)
#   pipewire pipewiresrc (cameras behind PipeWire)
set(KX_GSTREAMER_RUNTIME_PACKAGES
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
    gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-nice gstreamer1.0-pipewire)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kavaroxp)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${KX_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "live audio and video streaming from one workstation")
set(CPACK_PACKAGE_DESCRIPTION
    "kavaroXP captures a camera and a microphone and previews, broadcasts or\n"
    "records them. A broadcast serves a live ASF stream to desktop players and\n"
    "a WebM copy with a watch page to browsers, and can publish a copy to an\n"
    "RTMP or Icecast server. A recording is an AVI file. It runs in a window or\n"
    "without one, from a script or as a systemd user service.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_HOMEPAGE_URL "${KX_HOMEPAGE}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
string(JOIN ", " CPACK_DEBIAN_PACKAGE_DEPENDS ${KX_GSTREAMER_RUNTIME_PACKAGES})
include(CPack)
