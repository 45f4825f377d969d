// Turns a finished, fragmented lesson recording into a regular MP4 with its
// index (moov) in front of the media: the same packets copied without
// re-encoding into a temporary file beside it, which then replaces the
// recording in one rename. Players, galleries and upload sites that cannot
// read fragmented files (no duration, no seeking) read the result.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace record {

// The temporary file a rewrite of `path` writes: hidden, in the same folder.
std::string rewriteTempPath(const std::string& path);

// Rewrites `path` in place as described above. False when anything fails:
// then `path` is left exactly as it was and the temporary file is removed.
// If the process ends during the rewrite, `path` is untouched too (only the
// temporary file may stay; removeStaleRewrites clears it). `onPacket` is
// called after each copied packet with the count so far; when it returns
// false the rewrite is given up (and `path` stays as it was).
bool rewriteAsRegularMp4(const std::string& path,
                         const std::function<bool(int64_t packets)>& onPacket = {});

// Removes temporary files that rewrites ended by a crash left in `folder`.
void removeStaleRewrites(const std::string& folder);

}  // namespace record
