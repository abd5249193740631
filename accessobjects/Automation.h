// Microsoft Access under automation, behind interfaces: the operations the
// transfer of forms, reports, macros and modules needs. A Windows build plugs
// in the real application; the Linux layer has no Access at all.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

namespace talmera {

// A call that Access refused (a dispatch exception): result code, source and
// description, formatted like every other COM error of a save.
struct AutomationError : std::runtime_error {
    AutomationError(int32_t c, std::string s, std::string d)
        : std::runtime_error(d), code(c), source(std::move(s)), description(std::move(d)) {}
    int32_t code;
    std::string source;
    std::string description;
};

// Access's object types in its commands.
enum AccessObjectType { kAccessForm = 2, kAccessReport = 3, kAccessMacro = 4, kAccessModule = 5 };

// The lists of the opened project.
enum class ProjectList { Forms, Reports, Macros, Modules, Fifth };

// The installed version, from the Access.Application's current version.
struct AccessVersion {
    bool v8 = false, v9 = false, v10 = false, v11 = false, v12 = false, v14 = false;
    bool newest = false;  // 15 or 16 (these also set v14)
};

// Picks the version flags from the version text ("Access.Application.16").
AccessVersion ParseAccessVersion(const std::string& currentVersion);

// One running Access application. Every operation throws AutomationError when
// Access refuses it, and may throw std::runtime_error for other failures.
class IAccessApplication {
public:
    virtual ~IAccessApplication() = default;
    virtual void SetUserControl(bool value) = 0;                      // the Boolean property put
    virtual void OpenCurrentDatabase(const std::string& path, bool exclusive) = 0;
    virtual void OpenAccessProject(const std::string& path, bool exclusive) = 0;
    virtual void CloseCurrentDatabase() = 0;
    virtual int ProjectCount(ProjectList list) = 0;
    virtual std::string ProjectItemName(ProjectList list, int index) = 0;
    virtual std::string CreateForm() = 0;                             // name of the new form
    virtual std::string CreateReport() = 0;
    virtual int CurrentObjectType() = 0;
    virtual std::string CurrentObjectName() = 0;
    virtual std::string AddCodeModule() = 0;                          // name of the new module
    virtual void Save(int type, const std::string& name) = 0;
    virtual void Close(int type, const std::string& name, int option) = 0;
    virtual void Rename(const std::string& newName, int type, const std::string& oldName) = 0;
    virtual void CopyObject(const std::string& targetPath, const std::string& newName, int type,
                            const std::string& sourceName) = 0;
};

// The platform's side: the installed version, running Access processes, and
// the creation of the application object.
class IAccessPlatform {
public:
    virtual ~IAccessPlatform() = default;
    virtual AccessVersion DetectVersion() = 0;
    // True when an Access process runs; with endThem each one is ended.
    virtual bool AccessRunning(bool endThem) = 0;
    // The application object, or nullptr when Access is not installed.
    virtual std::unique_ptr<IAccessApplication> CreateApplication() = 0;
};

// Linux: no Access version, no Access process, no application object.
class NoAccessPlatform : public IAccessPlatform {
public:
    AccessVersion DetectVersion() override { return {}; }
    bool AccessRunning(bool) override { return false; }
    std::unique_ptr<IAccessApplication> CreateApplication() override { return nullptr; }
};

}  // namespace talmera
