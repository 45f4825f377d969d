// The subcommands of lumacro3-phone. Each lives in its own cmd_*.cpp and is
// listed once in main.cpp.
#pragma once

#include "phone/cli_args.h"
#include "phone/phone_client.h"

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace phone::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct Command {
    std::string name;
    std::string synopsis;  // arguments after the command name
    std::string summary;
    std::vector<Option> options;
    size_t minPositional = 0;
    size_t maxPositional = 0;
    // Runs the command; may throw UsageError.
    std::function<int(const ParsedArgs&, std::ostream& out, std::ostream& err)> run;
};

Command discoverCommand();
Command connectCommand();
Command sendCommand();
Command watchCommand();
Command recordCommand();
Command liveCommand();
Command pushCommand();
Command urlCommand();
Command pptCommand();
Command playCommand();
Command liveSendCommand();
Command audioSendCommand();

// Shared pieces of the commands (cmd_common.cpp).

// The PC's address: LUMACRO3_LISTEN_ADDRESS when set, else 127.0.0.1.
std::string defaultAddress();
Option addressOption();
Option portOption(uint16_t defaultPort);
// --admin, --no-admin, --unique-id, --mac, --tag, --width, --height, --ftp-url.
std::vector<Option> handshakeOptions();
// The handshake fields given on the command line. `defaultAdmin` applies when
// neither --admin nor --no-admin is given (nullopt: the field is left out).
// When neither --unique-id nor --mac is given a per-process id is used, so
// the PC counts this client as identified.
ClientInfoOptions clientInfoFromArgs(const ParsedArgs& args, std::optional<bool> defaultAdmin);

// The options of a command that talks to the PC: --address, `port`, the
// command's own options, then the handshake options.
std::vector<Option> sessionOptions(std::vector<Option> own,
                                   Option port = portOption(protocol::kSessionPort));

// A duration option, "--NAME SECONDS", of at most a day; the help text ends
// with the default.
Option secondsOption(const std::string& name, const std::string& help, double defaultSeconds);
double secondsFromArgs(const ParsedArgs& args, const std::string& name, double defaultSeconds);

uint16_t portFromArgs(const ParsedArgs& args, uint16_t defaultPort);
int timeoutFromArgs(const ParsedArgs& args, const std::string& name, int defaultMs);

// "CLASS JSON [+N bytes]"
std::string describeFrame(const ReceivedFrame& frame);

// Connects without a handshake to --address and --port (default
// `defaultPort`); prints the reason and returns false on failure.
bool connectOnly(PhoneClient& client, const ParsedArgs& args, uint16_t defaultPort, std::ostream& err);
// Connects and sends the handshake; prints the reason and returns false on failure.
bool connectAndHandshake(PhoneClient& client, const ParsedArgs& args,
                         std::optional<bool> defaultAdmin, std::ostream& err);

// Sends one message; prints the reason and returns false on failure.
bool sendOrReport(PhoneClient& client, std::string_view className, const Json::Value& message,
                  std::ostream& err);

// Hands every frame that arrives within `seconds` to `onFrame`, until it
// returns false. Returns kExitOk when the time ran out or `onFrame` stopped,
// kExitFailure when the PC closed the connection or sent an invalid frame
// (the reason goes to `err`).
int readFramesFor(PhoneClient& client, double seconds, std::ostream& err,
                  const std::function<bool(const ReceivedFrame&)>& onFrame);
// Prints every frame for `seconds`; returns as readFramesFor.
int printFramesFor(PhoneClient& client, double seconds, std::ostream& out, std::ostream& err);
// Connects and shakes hands (`defaultAdmin` as for connectAndHandshake), runs
// `body` on the session, then waits up to `closeMs` for the PC to close after
// our end of stream, so nothing sent is lost to a connection reset. Returns
// the exit code of `body`, kExitFailure when the session did not open.
int inSession(const ParsedArgs& args, std::optional<bool> defaultAdmin, std::ostream& err,
              const std::function<int(PhoneClient&)>& body, int closeMs = 2000);
// Connects, shakes hands, prints frames for `seconds`, then the keep-alive
// count, and closes gracefully. `admin` as for connectAndHandshake.
int watchSession(const ParsedArgs& args, std::optional<bool> admin, double seconds,
                 std::ostream& out, std::ostream& err);

}  // namespace phone::cli
