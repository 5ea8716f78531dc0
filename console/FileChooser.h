#pragma once
#include <QStringList>
#include <string>
#include <vector>

class QWidget;

// The open and save file choosers, behind an interface so that tests answer them
// instead of an operator. Filters come in the "description|patterns|...||" form.
class IFileChooser {
public:
    virtual ~IFileChooser() = default;
    // Several files may be chosen; they come back in the chooser's order, with full
    // paths. Empty when cancelled.
    virtual std::vector<std::string> ChooseFilesToOpen(QWidget* owner, const std::string& filter) = 0;
    // One path to save to, confirmed by the operator when it exists. Empty when cancelled.
    virtual std::string ChooseFileToSave(QWidget* owner, const std::string& initialName, const std::string& filter) = 0;
};

// The platform's file dialogs; each starts in the folder the last one ended in.
class QtFileChooser : public IFileChooser {
public:
    std::vector<std::string> ChooseFilesToOpen(QWidget* owner, const std::string& filter) override;
    std::string ChooseFileToSave(QWidget* owner, const std::string& initialName, const std::string& filter) override;

private:
    QString folder;
};

// What Open File offers: the update files, and every file.
inline constexpr const char* kUpdateFilesFilter = "s,bin文件 (*.bin;*.s)|*.bin;*.s|所有文件 (*.*)|*.*||";

// "s,bin文件 (*.bin;*.s)|*.bin;*.s|所有文件 (*.*)|*.*||" as Qt name filters. The
// operator sees each description as written; the patterns behind it match letters of
// either case, so FONT.BIN is offered under *.bin, and *.* means every file, also one
// without a dot.
QStringList QtNameFilters(const std::string& filter);
