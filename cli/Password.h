// The password of an encrypted source on the command line: the --password
// value, or else, when someone sits at the terminal, typed with the echo off.
#pragma once

#include <istream>
#include <optional>
#include <ostream>
#include <string>

#include "platform/MessageReceiver.h"

namespace talmera::cli {

// How many passwords are asked at the terminal before the command gives up.
inline constexpr int kPasswordTries = 3;

// Passes every message on to another receiver and answers the engine's
// password question itself.
class PasswordReceiver : public IMessageReceiver {
public:
    // `given`: the --password value. `in`: where the user answers (null when
    // standard input or standard error is no terminal); the question goes to `err`.
    PasswordReceiver(IMessageReceiver& inner, std::optional<std::string> given, std::istream* in, std::ostream& err)
        : inner_(inner), given_(std::move(given)), in_(in), err_(err) {}

    intptr_t send(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        return inner_.send(message, wParam, lParam);
    }
    void post(uint32_t message, uintptr_t wParam, intptr_t lParam) override { inner_.post(message, wParam, lParam); }
    void showMessageBox(const std::string& upper, const std::string& lower) override {
        inner_.showMessageBox(upper, lower);
    }
    void showPlatformMessage(const std::string& text) override { inner_.showPlatformMessage(text); }
    bool askOverwrite(const std::string& path) override { return inner_.askOverwrite(path); }
    std::string askNewLocation(const std::string& existing, const std::string& proposal) override {
        return inner_.askNewLocation(existing, proposal);
    }

    std::optional<std::string> askPassword(const std::string& path, int attempt) override;

private:
    IMessageReceiver& inner_;
    std::optional<std::string> given_;
    std::istream* in_;
    std::ostream& err_;
};

}  // namespace talmera::cli
