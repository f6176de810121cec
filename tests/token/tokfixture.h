// Small helpers for the token tests: handles that close themselves, calls to
// slots the binding has no wrapper for, and reading name lists.
#pragma once

#include "token/tokenlib.h"

#include <string>
#include <vector>

namespace tokfix {

// Slots without a Tok* wrapper.
constexpr int kSlotGetDevState = 5;
constexpr int kSlotUnblockPIN = 16;
constexpr int kSlotCloseHandle = 77;

typedef ULONG(WINAPI* PFN_GetDevState)(LPSTR name, ULONG* state);
typedef ULONG(WINAPI* PFN_UnblockPIN)(HAPPLICATION app, LPSTR adminPin, LPSTR newUserPin, ULONG* retry);
typedef ULONG(WINAPI* PFN_CloseHandle)(HANDLE handle);

template <typename Fn>
Fn SlotFn(int slot) {
    return reinterpret_cast<Fn>(GetTokenLib().table.slot[slot]);
}

inline ULONG VerifyPin(HAPPLICATION app, ULONG type, const char* pin, ULONG* retry) {
    auto fn = SlotFn<PFN_SKF_VerifyPIN>(SLOT_VerifyPIN);
    return fn(app, type, const_cast<LPSTR>(pin), retry);
}

inline ULONG ChangePin(HAPPLICATION app, ULONG type, const char* oldPin, const char* newPin, ULONG* retry) {
    auto fn = SlotFn<PFN_SKF_ChangePIN>(SLOT_ChangePIN);
    return fn(app, type, const_cast<LPSTR>(oldPin), const_cast<LPSTR>(newPin), retry);
}

// Names of a zero-separated list, through the binding's own walker.
inline std::vector<std::string> Names(const char* list, size_t bytes) {
    std::vector<std::string> out;
    ForEachName(list, bytes, [&](const char* name) { out.emplace_back(name); });
    return out;
}

class Dev {
public:
    Dev() = default;
    explicit Dev(const std::string& name) { rv = TokConnectDev(name.c_str(), &h); }
    ~Dev() {
        if (h) TokDisConnectDev(h);
    }
    Dev(const Dev&) = delete;
    Dev& operator=(const Dev&) = delete;
    ULONG rv = 0;
    DEVHANDLE h = nullptr;
};

class App {
public:
    App(DEVHANDLE dev, const std::string& name) { rv = TokOpenApplication(dev, name.c_str(), &h); }
    ~App() {
        if (h) TokCloseApplication(h);
    }
    App(const App&) = delete;
    App& operator=(const App&) = delete;
    ULONG rv = 0;
    HAPPLICATION h = nullptr;
};

class Con {
public:
    Con(HAPPLICATION app, const std::string& name) { rv = TokOpenContainer(app, name.c_str(), &h); }
    ~Con() {
        if (h) TokCloseContainer(h);
    }
    Con(const Con&) = delete;
    Con& operator=(const Con&) = delete;
    ULONG rv = 0;
    HCONTAINER h = nullptr;
};

} // namespace tokfix
