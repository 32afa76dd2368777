#include "processes.h"

#include "fileio.h"

#include <QProcess>
#include <QString>

#include <string>
#include <vector>

#include <windows.h>

#include <restartmanager.h>

namespace Platform {

ProcessGroup::ProcessGroup()
{
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job)
        return;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
        CloseHandle(job);
        return;
    }
    m_job = job;
}

ProcessGroup::~ProcessGroup()
{
    if (m_job)
        CloseHandle(m_job);
    if (m_process)
        CloseHandle(m_process);
}

void ProcessGroup::prepare(QProcess *process)
{
    // Suspended until it is in the job, so that it can start nothing
    // outside; QProcess keeps the PROCESS_INFORMATION it fills while the
    // process runs.
    process->setCreateProcessArgumentsModifier([this](QProcess::CreateProcessArguments *arguments) {
        arguments->flags |= CREATE_SUSPENDED;
        m_creation = arguments->processInformation;
    });
}

void ProcessGroup::started(QProcess *process)
{
    Q_UNUSED(process);
    const auto *child = static_cast<PROCESS_INFORMATION *>(m_creation);
    m_creation = nullptr;
    if (!child)
        return;
    // Without a job (none could be made, or this process sits in one that
    // forbids it) the child still runs, and kill() ends the child alone,
    // through a handle of our own: QProcess closes its handle when the
    // child ends.
    if (m_job && !AssignProcessToJobObject(m_job, child->hProcess)) {
        CloseHandle(m_job);
        m_job = nullptr;
    }
    HANDLE own = nullptr;
    if (!m_job
        && DuplicateHandle(GetCurrentProcess(), child->hProcess, GetCurrentProcess(), &own,
                           PROCESS_TERMINATE, FALSE, 0))
        m_process = own;
    ResumeThread(child->hThread);
}

void ProcessGroup::kill()
{
    if (m_job)
        TerminateJobObject(m_job, 1);
    else if (m_process)
        TerminateProcess(m_process, 1);
}

bool processIsAlive(qint64 pid)
{
    if (pid <= 0)
        return false;
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        // As kill() answers EPERM: it exists, it is only not ours.
        return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool alive = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return alive;
}

int exitCodeAsSeen(int code)
{
    return code;
}

QStringList programsUsingFile(const QByteArray &path)
{
    QStringList names;
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (RmStartSession(&session, 0, key) != ERROR_SUCCESS)
        return names;
    const QString native = decodeName(path).replace(QLatin1Char('/'), QLatin1Char('\\'));
    const std::wstring file = native.toStdWString();
    LPCWSTR files[] = {file.c_str()};
    if (RmRegisterResources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
        // The list can grow between the two calls: asked again while it does.
        UINT needed = 0;
        UINT count = 0;
        DWORD reasons = 0;
        std::vector<RM_PROCESS_INFO> found;
        DWORD result = ERROR_MORE_DATA;
        for (int attempt = 0; result == ERROR_MORE_DATA && attempt < 3; ++attempt) {
            found.resize(needed);
            count = needed;
            result = RmGetList(session, &needed, &count, found.data(), &reasons);
        }
        if (result == ERROR_SUCCESS) {
            for (UINT i = 0; i < count && i < found.size(); ++i) {
                const QString name = QString::fromWCharArray(found[i].strAppName).trimmed();
                const QString entry =
                    name.isEmpty() ? QString::number(found[i].Process.dwProcessId) : name;
                if (!names.contains(entry))
                    names.append(entry);
            }
        }
    }
    RmEndSession(session);
    return names;
}

} // namespace Platform
