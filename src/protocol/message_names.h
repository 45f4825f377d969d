// Wire names of every message class. Nothing else in the program spells them.
#pragma once

namespace protocol {

#define LUMACRO3_MSG(name) inline constexpr const char name[] = "com.quorvel.qm.msg." #name

LUMACRO3_MSG(MsgClientInfo);
LUMACRO3_MSG(MsgServerInfo);
LUMACRO3_MSG(MsgCapabilities);
LUMACRO3_MSG(MsgConfigChanged);

LUMACRO3_MSG(MsgMouseEvent);
LUMACRO3_MSG(MsgMotionEvent);
LUMACRO3_MSG(MsgRotateEvent);
LUMACRO3_MSG(MsgKeyEvent);
LUMACRO3_MSG(MsgKeyEventEx);
LUMACRO3_MSG(MsgInputText);
LUMACRO3_MSG(MsgVolume);

LUMACRO3_MSG(MsgLive);
LUMACRO3_MSG(MsgLiveOpen);
LUMACRO3_MSG(MsgLiveData);
LUMACRO3_MSG(MsgLiveClose);
LUMACRO3_MSG(MsgAudioPlayStart);
LUMACRO3_MSG(MsgAudioPlayData);
LUMACRO3_MSG(MsgAudioPlayStop);
LUMACRO3_MSG(MsgMediaPlayer);
LUMACRO3_MSG(MsgMediaPlay);
LUMACRO3_MSG(MsgMediaPlayState);
LUMACRO3_MSG(MsgMediaPlayInfo);
LUMACRO3_MSG(MsgForceStopAllMedia);
LUMACRO3_MSG(MsgMediaRecord);
LUMACRO3_MSG(MsgMediaRecordState);
LUMACRO3_MSG(MsgVoiceData);

LUMACRO3_MSG(MsgBrush);
LUMACRO3_MSG(MsgBrushState);
LUMACRO3_MSG(MsgSpot);
LUMACRO3_MSG(MsgSpotState);
LUMACRO3_MSG(MsgGlass);
LUMACRO3_MSG(MsgGlassState);
LUMACRO3_MSG(MsgScreen);
LUMACRO3_MSG(MsgScreenState);
LUMACRO3_MSG(MsgPhotos);
LUMACRO3_MSG(MsgPCCamera);
LUMACRO3_MSG(MsgPPT);
LUMACRO3_MSG(MsgDrawingBoard);
LUMACRO3_MSG(MsgDrawingBoardState);
LUMACRO3_MSG(MsgEditText);
LUMACRO3_MSG(MsgScreenshot);

LUMACRO3_MSG(MsgFile);
LUMACRO3_MSG(MsgOpenURL);
LUMACRO3_MSG(MsgPexloAutoLogin);
LUMACRO3_MSG(MsgOpenEbook);
LUMACRO3_MSG(MsgMiracastDisplay);

#undef LUMACRO3_MSG

// Short names used by the annotation overlay and the media player.
inline constexpr const char kAddPoint[] = "add-point";
inline constexpr const char kCloseBrush[] = "close-brush";
inline constexpr const char kMouseEvent[] = "mouse-event";

}  // namespace protocol
