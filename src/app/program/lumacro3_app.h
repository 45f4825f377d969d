// The application: one instance per user session, start-up in a fixed order,
// the main hub's loop, and shutdown in the reverse order of what it uses.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace app {

class Lumacro3App {
public:
    Lumacro3App();
    ~Lumacro3App();
    Lumacro3App(const Lumacro3App&) = delete;
    Lumacro3App& operator=(const Lumacro3App&) = delete;

    // Runs the whole life of the process; returns its exit code.
    int run(int argc, char** argv);

private:
    struct State;
    int secondInstance();
    void startUp();
    void shutDown();
    void watchTerminationSignals();
    void configureLogging();
    void loadLanguage();
    void computeScales();
    void startServer();
    void prepareDocumentFolder();
    void startServices();
    void createMainWindow();
    void createConnectWindow();
    void createSettingsWindow();

    std::unique_ptr<State> s_;
};

}  // namespace app
