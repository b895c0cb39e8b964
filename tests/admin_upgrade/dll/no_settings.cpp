// A settings library of another version: it lacks DisplaySettingsDlg.
extern "C" int DisplaySettings(void*) { return 0; }
