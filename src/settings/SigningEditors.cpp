#include "settings/SigningEditors.h"

namespace jarseal {

namespace {

const SettingKey kTextSettings[kSettingsTextCount] = {
    {"Java", "storepass"}, {"Java", "keypass"},       {"Java", "alias1"},
    {"Java", "alias2"},    {"Symbian", "passphrase"},
};


std::string ReadPath(const SettingsAccess& settings, PathSetting setting) {
    const PathChooser& c = PathChooserFor(setting);
    return settings.Read(c.section, c.key);
}

} // namespace

const SettingKey& TextSetting(std::size_t index) {
    return kTextSettings[index];
}

int PathLabelIndex(PathSetting setting) {
    switch (setting) {
    case PathSetting::Keystore:
        return 5;
    case PathSetting::SignSis:
        return 10;
    case PathSetting::Certificate:
        return 11;
    case PathSetting::Key:
        return 12;
    }
    return 5;
}

SettingsView ReadSettingsView(const SettingsAccess& settings) {
    SettingsView view;
    for (std::size_t i = 0; i < kSettingsTextCount; ++i)
        view.texts[i] = settings.Read(kTextSettings[i].section, kTextSettings[i].key);
    view.signSis = ReadPath(settings, PathSetting::SignSis);
    view.certificate = ReadPath(settings, PathSetting::Certificate);
    view.key = ReadPath(settings, PathSetting::Key);
    view.keystore = ReadPath(settings, PathSetting::Keystore);
    return view;
}

void StoreSettingsText(SettingsAccess& settings, std::size_t index, const std::string& text) {
    if (index < kSettingsTextCount)
        settings.Write(kTextSettings[index].section, kTextSettings[index].key, text);
}

std::optional<std::string> EditSettingWithInputBox(Context& ctx, std::size_t index) {
    if (index >= kInputBoxEditorCount)
        return std::nullopt;
    const SettingKey& s = kTextSettings[index];
    const std::string prompt = std::string("Введите новое значение для ") + s.key;
    const std::string answer = ctx.ui.InputBox(prompt, kAppTitle, ctx.settings.Read(s.section, s.key));
    if (answer.empty())
        return std::nullopt;
    ctx.settings.Write(s.section, s.key, answer);
    return ctx.settings.Read(s.section, s.key);
}

JavaDefaults RestoreJavaDefaults(Context& ctx) {
    ctx.settings.Write("Java", "keystore", ctx.Where().defaultKeystore);
    const char* const values[kInputBoxEditorCount] = {kDefaultPassword, kDefaultPassword, kDefaultAlias,
                                                      kDefaultAlias};
    JavaDefaults result;
    for (std::size_t i = 0; i < kInputBoxEditorCount; ++i) {
        ctx.settings.Write("Java", kTextSettings[i].key, values[i]);
        result.texts[i] = ctx.settings.Read("Java", kTextSettings[i].key);
    }
    result.keystore = ctx.settings.Read("Java", "keystore");
    return result;
}

} // namespace jarseal
