// JSON member names of the frame head and of the message objects.
#pragma once

namespace protocol::field {

// Frame head.
inline constexpr const char className[] = "className";
inline constexpr const char msgJson[] = "msgJson";
// Added by the frame encoder to every message object.
inline constexpr const char dataLength[] = "dataLength";

// Handshake and server information.
inline constexpr const char uniqueId[] = "uniqueId";
inline constexpr const char mac[] = "mac";
inline constexpr const char admin[] = "admin";
inline constexpr const char tag[] = "tag";
inline constexpr const char width[] = "width";
inline constexpr const char height[] = "height";
inline constexpr const char ftpUrl[] = "ftpUrl";
inline constexpr const char httpUrl[] = "httpUrl";
inline constexpr const char serverId[] = "serverId";
inline constexpr const char name[] = "name";
inline constexpr const char platform[] = "platform";
inline constexpr const char screenWidth[] = "screenWidth";
inline constexpr const char screenHeight[] = "screenHeight";
inline constexpr const char useable[] = "useable";
inline constexpr const char versionCode[] = "versionCode";
inline constexpr const char versionName[] = "versionName";
inline constexpr const char maxClients[] = "maxClients";
inline constexpr const char clientFtpSupported[] = "clientFtpSupported";
inline constexpr const char what[] = "what";

// Common.
inline constexpr const char action[] = "action";
inline constexpr const char state[] = "state";

// Input.
inline constexpr const char absolute[] = "absolute";
inline constexpr const char dx[] = "dx";
inline constexpr const char dy[] = "dy";
inline constexpr const char degree[] = "degree";
inline constexpr const char keyCode[] = "keyCode";
inline constexpr const char shift[] = "shift";
inline constexpr const char ctrl[] = "ctrl";
inline constexpr const char alt[] = "alt";
inline constexpr const char text[] = "text";
inline constexpr const char volume[] = "volume";

// Live stream, media and recording.
inline constexpr const char frameRate[] = "frameRate";
inline constexpr const char bitrate[] = "bitrate";
inline constexpr const char keyFrame[] = "keyFrame";
inline constexpr const char pixelFormat[] = "pixelFormat";
inline constexpr const char codecId[] = "codecId";
inline constexpr const char flag[] = "flag";
inline constexpr const char channels[] = "channels";
inline constexpr const char sampleRate[] = "sampleRate";
inline constexpr const char fileName[] = "fileName";
inline constexpr const char fileSize[] = "fileSize";
inline constexpr const char bytes[] = "bytes";
inline constexpr const char offset[] = "offset";
inline constexpr const char whence[] = "whence";
inline constexpr const char position[] = "position";
inline constexpr const char duration[] = "duration";
inline constexpr const char canSeek[] = "canSeek";
inline constexpr const char canPause[] = "canPause";
inline constexpr const char enableClientVoice[] = "enableClientVoice";

// Overlay "mouse-event" and "add-point".
inline constexpr const char type[] = "type";
inline constexpr const char event[] = "event";
inline constexpr const char mouseDelta[] = "mouseDelta";
inline constexpr const char x[] = "x";
inline constexpr const char y[] = "y";
inline constexpr const char vk[] = "vk";
inline constexpr const char start[] = "start";
inline constexpr const char fin[] = "fin";

// Classroom tools.
inline constexpr const char color[] = "color";
inline constexpr const char pointRadius[] = "pointRadius";
inline constexpr const char pointList[] = "pointList";
inline constexpr const char size[] = "size";
inline constexpr const char index[] = "index";
inline constexpr const char urls[] = "urls";
inline constexpr const char isOpened[] = "isOpened";
inline constexpr const char slideIndex[] = "slideIndex";
inline constexpr const char slideCount[] = "slideCount";
inline constexpr const char content[] = "content";

// Files.
inline constexpr const char fileId[] = "fileId";
inline constexpr const char md5[] = "md5";
inline constexpr const char anim[] = "anim";
inline constexpr const char resType[] = "resType";
inline constexpr const char url[] = "url";

}  // namespace protocol::field
