#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Writes registry export files the way regedit does, for tests: either "Windows Registry Editor Version
// 5.00" in UTF-16LE with BOM, or REGEDIT4 in UTF-8, with CR LF line ends. While an instance lives,
// CULVANE_REGISTRY names its file and the registry is reloaded on each save().
class RegFile {
public:
    enum class Format { Unicode5, Regedit4 };

    explicit RegFile(Format format = Format::Unicode5);
    ~RegFile();
    RegFile(const RegFile&) = delete;
    RegFile& operator=(const RegFile&) = delete;

    // Starts a section [HKEY_LOCAL_MACHINE\path].
    RegFile& key(const QString& path);
    RegFile& sz(const QString& name, const QString& text);                // "name"="text" (escapes \ and ")
    RegFile& dword(const QString& name, quint32 value);                   // "name"=dword:0000000a
    RegFile& hex(const QString& name, int type, const QByteArray& bytes); // hex: / hex(n):, wrapped
    RegFile& raw(const QString& line);                                    // any line, written as given
    // REG_EXPAND_SZ / REG_MULTI_SZ as regedit writes them: hex(2) / hex(7) with the text in the file's
    // string form (UTF-16LE for 5.00, narrow for REGEDIT4), terminators included.
    RegFile& expandSz(const QString& name, const QString& text);
    RegFile& multiSz(const QString& name, const QStringList& texts);

    // Convenience for the version keys of the server.
    RegFile& currentVersion(int major, int minor, int release, int build);

    QString path() const;
    // Writes the file and makes the registry read it anew.
    void save();
    // The file's bytes as save() writes them.
    QByteArray bytes() const;
    // Writes any bytes as the file (damaged or hand-made files) and makes the registry read it anew.
    void saveBytes(const QByteArray& content);

private:
    QByteArray stringBytes(const QString& text) const;

    QTemporaryDir m_dir;
    Format m_format;
    QStringList m_lines;
    QByteArray m_previous;
    bool m_hadPrevious = false;
};
