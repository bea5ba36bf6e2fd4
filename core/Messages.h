// The launcher's own texts that both windows show, and the rule by which an
// error becomes the text of an error box.
#pragma once

#include <string>

// The caption of the launcher's message and error boxes.
inline constexpr const char* kApplicationTitle = "Quenmor";

// Shown when the base folder holds no settings file; the program then ends.
inline constexpr const char* kMissingSettings = "ОШИБКА: Quenmor.ini не найден !";

// The status line while another launcher (or the console updater) is
// updating this installation and this window waits for it to finish.
inline constexpr const char* kInstallationBusy = "Клиент уже обновляется, ожидание...";

// The status line's hover text after a failed run names the log after this.
inline constexpr const char* kLogFileLabel = "Журнал: ";

// The options dialog's link that opens the folder of the launcher's log.
inline constexpr const char* kLogFolderLink = "Открыть папку журнала";

// The quiet line of the news panel where the news cannot be shown.
inline constexpr const char* kNewsUnavailable = "Новости сейчас недоступны";

// The text of an error box: the error's text (UTF-8), with a full stop
// appended when its last character sorts after the full stop. Every
// character outside ASCII does, as its last UTF-8 byte does.
std::string ErrorBoxText(const std::string& message);
