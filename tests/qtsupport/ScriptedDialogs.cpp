#include "qtsupport/ScriptedDialogs.h"

namespace lv::test {

namespace {

ScriptedDialogs* g_installed = nullptr;

} // namespace

ScriptedDialogs& ScriptedDialogs::installed() { return *g_installed; }
void ScriptedDialogs::setInstalled(ScriptedDialogs* dialogs) { g_installed = dialogs; }

void ScriptedDialogs::reset()
{
    m_answers.clear();
    onMessage = nullptr;
    chosenItem.reset();
    chosenFolder.reset();
    messages.clear();
    explanations.clear();
    prompts.clear();
    urls.clear();
    documents.clear();
}

int ScriptedDialogs::message(const Request& request, Icon, QWidget*)
{
    messages.push_back(request.message);
    explanations.push_back(request.explanation);
    if (onMessage) onMessage(request);
    if (!m_answers.empty()) {
        const int answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }
    return request.defaultButton;
}

std::optional<FolderItem> ScriptedDialogs::chooseFileOrFolder(const std::string& prompt, QWidget*)
{
    prompts.push_back(prompt);
    return chosenItem;
}

std::optional<FolderItem> ScriptedDialogs::chooseFile(const std::string& prompt, QWidget*)
{
    prompts.push_back(prompt);
    return chosenItem;
}

std::optional<FolderItem> ScriptedDialogs::chooseFolder(const FolderItem&, QWidget*)
{
    prompts.push_back("folder");
    return chosenFolder;
}

} // namespace lv::test
