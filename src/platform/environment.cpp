// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/environment.h"

#include <QString>
#include <cstdio>
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

namespace {
int g_dpiX = 96;
int g_dpiY = 96;
bool g_busy = false;
thread_local int t_quietDepth = 0;
std::function<void(bool)>& busyHook()
{
    static std::function<void(bool)> hook;
    return hook;
}
std::function<void(const std::string&, const std::string&)>& warningHook()
{
    static std::function<void(const std::string&, const std::string&)> hook;
    return hook;
}
}  // namespace

int screenDpiX()
{
    return g_dpiX;
}
int screenDpiY()
{
    return g_dpiY;
}
void setScreenDpi(int x, int y)
{
    g_dpiX = x > 0 ? x : 96;
    g_dpiY = y > 0 ? y : 96;
}

QuietThreadScope::QuietThreadScope()
{
    ++t_quietDepth;
}
QuietThreadScope::~QuietThreadScope()
{
    --t_quietDepth;
}
bool threadIsQuiet()
{
    return t_quietDepth > 0;
}

void setBusyCursor(bool busy)
{
    if (threadIsQuiet())
        return;
    g_busy = busy;
    if (busyHook())
        busyHook()(busy);
}
bool busyCursorShown()
{
    return g_busy;
}
void setBusyCursorHook(std::function<void(bool)> hook)
{
    busyHook() = std::move(hook);
}

void showWarning(const std::string& caption, const std::string& text)
{
    if (threadIsQuiet())
        return;
    if (warningHook())
        warningHook()(caption, text);
    else
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}
void setWarningHook(std::function<void(const std::string&, const std::string&)> hook)
{
    warningHook() = std::move(hook);
}

std::string resolveFileNameCase(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        return path;
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return path;
    std::string found;
    const QString want = QString::fromUtf8(name.c_str());
    while (dirent* e = ::readdir(d)) {
        if (QString::fromUtf8(e->d_name).compare(want, Qt::CaseInsensitive) == 0) {
            // Prefer a deterministic choice when several spellings exist.
            if (found.empty() || std::string(e->d_name) < found)
                found = e->d_name;
        }
    }
    ::closedir(d);
    if (found.empty())
        return path;
    return slash == std::string::npos ? found : path.substr(0, slash + 1) + found;
}
