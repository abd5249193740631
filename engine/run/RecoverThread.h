// The recovery thread: every long job of the tool runs here, one run at a time.
// A run reads its job from the shared application state, drives the engine and
// talks to its receiver only through messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

namespace talmera {

struct CQuorvinAccessRecoveryApp;
class IMessageReceiver;
struct tableInfo;

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
    // The save, step by step: the tables (each: its output table, its rows,
    // the move from a scratch table), the links, the queries, the
    // relationships and the other objects.
    enum class Step { Done, Stopped, Failed };
    void Save();
    Step SaveTables();
    // False when stopped (the run then ends through StopSave).
    bool SaveTable(size_t position, const std::string& outputName);
    bool SaveTableRows(const tableInfo& table);
    bool SaveQueries();
    // Ends a stopped save: the recordset and the output are closed.
    void StopSave();
    void ListTables();
    void LogObjectSummary();
    void LogDamage();
    // The lines of one table's repairs: its name, its columns' names, and the
    // pages decided against its usage map.
    void LogTableRepairs(const tableInfo& table);

    CQuorvinAccessRecoveryApp& app_;
    std::thread thread_;
};

}  // namespace talmera
