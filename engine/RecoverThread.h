// The recovery thread: every long job of the tool runs here, one run at a time.
// A run reads its job from the shared application state, drives the engine and
// talks to its receiver only through messages.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

namespace talmera {

struct CQuorvinAccessRecoveryApp;
class IMessageReceiver;

class CRecoverThread {
public:
    CRecoverThread(CQuorvinAccessRecoveryApp& app, IMessageReceiver* mainWindow);
    ~CRecoverThread();

    std::string sourcePath;
    IMessageReceiver* mainWindow = nullptr;
    int32_t previewTableIndex = 0;
    bool deletedRecordsPass = false;

    // The run itself; returns 0. Front ends may call it directly on their own
    // thread (the command line) or through Start() (the window).
    int Run();

    // Starts Run() on a new thread; Join() waits for it.
    void Start();
    void Join();

private:
    void Log(const std::string& line);
    void MessageBox(const std::string& upper, const std::string& lower);
    void Finish(bool clearTreeLock);
    void Scan();
    void DeletedRecordsPass();
    void Preview();
    void Save();
    void ListTables();
    void LogObjectSummary();
    void LogDamage();

    CQuorvinAccessRecoveryApp& app_;
    std::thread thread_;
};

}  // namespace talmera
