// What the Server Manager's windows show of the core's state, and the actions of their controls: the
// selection and the configuration form reach the core before the serverManager's own action runs.
#include <algorithm>

#include "TavrinMac/server_manager_windows.h"

namespace tavrinmac {
namespace {

NSString* Text(const std::string& text) { return NSString::stringWithStd(text); }

std::string TextOf(NSString* text) { return text ? text->str() : std::string(); }

// A field keeps its text (and its caret) when the core holds the same.
void SetText(NSTextField* field, const std::string& text) {
  if (TextOf(field->stringValue()) != text) field->setStringValue(Text(text));
}

void ShowActivity(NSProgressIndicator* progress, bool shown) {
  progress->setHidden(shown ? NO : YES);
  if (shown) progress->startAnimation(nullptr);
  else progress->stopAnimation(nullptr);
}

}  // namespace

// ---- data source

NSInteger ServerManagerWindows::numberOfRowsInTableView(NSTableView* table) {
  return table == logTable ? serverManager::numberOfLogLines() : serverManager::numberOfServers();
}

id ServerManagerWindows::tableView_objectValueForTableColumn_row(NSTableView* table, NSTableColumn* column,
                                                                 NSInteger row) {
  const std::string identifier = TextOf(static_cast<NSString*>(column->identifier()));
  if (table == logTable) return Text(serverManager::logCellText(identifier, static_cast<int>(row)));
  if (table == serversTable || table == servStatusTable)
    return Text(serverManager::serverCellText(identifier, static_cast<int>(row)));
  return Text("Unidentified Table");
}

// ---- reloads

bool ServerManagerWindows::Reload(View view) {
  switch (view) {
    case View::kServersTable: {
      serversTable->reloadData();
      servStatusTable->reloadData();
      if (serversTable->selectedRow() >= serversTable->numberOfRows()) serversTable->deselectAll(nullptr);
      TakeSelection();
      return true;
    }
    case View::kServerLog: {
      logTable->reloadData();
      if (logTable->numberOfRows() > 0) logTable->scrollRowToVisible(logTable->numberOfRows() - 1);
      return true;
    }
    case View::kServerItems: ReloadItems(); return true;
    case View::kServerDetails: ReloadDetails(); return true;
    case View::kSearchWindow: ReloadSearch(); return true;
    case View::kUnlockWindow: ReloadUnlock(); return true;
    case View::kConfigWindow: ReloadConfig(); return true;
    default: return false;
  }
}

void ServerManagerWindows::ReloadItems() {
  ServerManagerView v;
  {
    std::lock_guard guard(serverManager::lock());
    v = serverManager::view();
  }
  for (NSMenuItem* item : {searchHeaderMenuItem, searchMenuItem}) item->setEnabled(v.searchItems);
  for (NSMenuItem* item : {unlockHeaderMenuItem, unlockMenuItem}) item->setEnabled(v.unlockItems);
  for (NSMenuItem* item : {serverConfigHeaderMenuItem, serverConfigMenuItem}) item->setEnabled(v.configItems);
  for (NSMenuItem* item : {upgradeHeaderMenuItem, upgradeMenuItem}) item->setEnabled(v.upgradeItems);
  for (NSMenuItem* item : {restoreHeaderMenuItem, restoreMenuItem}) item->setEnabled(v.restoreItems);
  refreshMenuItem->setEnabled(v.refreshItem);
  searchButton->setEnabled(v.searchItems);
  refreshButton->setEnabled(v.refreshItem);
}

void ServerManagerWindows::ReloadDetails() {
  ServerManagerView v;
  {
    std::lock_guard guard(serverManager::lock());
    v = serverManager::view();
  }
  statusText->setString(Text(v.statusText));
  statusText->scrollRangeToVisible(NSMakeRange(0, 0));
  SetText(clientsTextField, v.clientsText);
  SetText(checkingText, v.checkingText);
  checkingText->setHidden(v.checkingText.empty() ? YES : NO);
  ShowActivity(checkingStatus, v.checkingShown);
}

void ServerManagerWindows::ReloadSearch() {
  ServerManagerView v;
  {
    std::lock_guard guard(serverManager::lock());
    v = serverManager::view();
  }
  SetText(searchStatusText, v.searchStatusText);
  // The fetch of the configurations that follows the collection shows as the same activity.
  ShowActivity(servStatusIndicator, v.searchProgress || v.retrieveProgress);
}

void ServerManagerWindows::ReloadUnlock() {
  ServerManagerView v;
  {
    std::lock_guard guard(serverManager::lock());
    v = serverManager::view();
  }
  SetText(unlockDisplay, v.unlockDisplay);
  SetText(unlockText, v.unlockText);
  SetText(unlockingText, v.unlockingText);
  unlockText->setEnabled(v.unlockTextEnabled);
  unlockOk->setEnabled(v.unlockOkEnabled);
  unlockCancelButton->setEnabled(v.unlockCancelEnabled);
  unlockingText->setHidden(v.unlockingShown ? NO : YES);
  ShowActivity(retrieveProgress, v.retrieveProgress);
  // Ready for a password: it goes straight into the field.
  if (v.unlockTextEnabled && unlockWindow->isVisible() && unlockWindow->firstResponder() != unlockText)
    unlockWindow->makeFirstResponder(unlockText);
}

void ServerManagerWindows::ReloadConfig() {
  ConfigForm f;
  {
    std::lock_guard guard(serverManager::lock());
    f = serverManager::form();
  }
  SetText(informationText, f.informationText);
  SetText(basicSettingsText, f.basicSettingsText);
  SetText(ipAddressText, f.ipAddressText);
  SetText(subnetMaskText, f.subnetMaskText);
  SetText(gatewayText, f.gatewayText);
  ipConfigText->selectItemAtIndex(f.ipConfigText == "DHCP" ? 0 : 1);
  enablePwd->setState(f.enablePwd ? NSOnState : NSOffState);
  SetText(newPwdText, f.newPwdText);
  SetText(confirmPwdText, f.confirmPwdText);
  modifyBasicSettings->setState(f.modifyBasicSettings ? NSOnState : NSOffState);
  modifyIPSettings->setState(f.modifyIPSettings ? NSOnState : NSOffState);
  modifyPwdEnable->setState(f.modifyPwdEnable ? NSOnState : NSOffState);
  modifyPwdSet->setState(f.modifyPwdSet ? NSOnState : NSOffState);
  // Each modify box opens its own fields.
  basicSettingsText->setEnabled(f.modifyBasicSettings);
  serverNameLabel->setEnabled(f.modifyBasicSettings);
  enablePwd->setEnabled(f.modifyPwdEnable);
  newPwdText->setEnabled(f.modifyPwdSet);
  confirmPwdText->setEnabled(f.modifyPwdSet);
  for (NSTextField* field : {static_cast<NSTextField*>(ipConfigText), ipAddressText, subnetMaskText, gatewayText})
    field->setEnabled(f.modifyIPSettings);
  // While the change is being sent nothing of the form can be changed.
  for (NSButton* box : {modifyBasicSettings, modifyIPSettings, modifyPwdEnable, modifyPwdSet, serverConfigOk})
    box->setEnabled(f.progressShown ? NO : YES);
  selectedIndex->setStringValue(NSString::stringWithFormat("%d", f.selectedIndex));
  ShowActivity(setConfigProgress, f.progressShown);
  if (!serverConfigWindow->isVisible()) {
    configTabs->selectTabViewItemAtIndex(0);
    serverConfigWindow->makeKeyAndOrderFront(nullptr);
  }
}

// ---- what goes to the core before an action

void ServerManagerWindows::TakeSelection() { serverManager::setSelectedRow(static_cast<int>(serversTable->selectedRow())); }

void ServerManagerWindows::TakeConfigForm() {
  std::lock_guard guard(serverManager::lock());
  ConfigForm& f = serverManager::form();
  f.basicSettingsText = TextOf(basicSettingsText->stringValue());
  f.ipAddressText = TextOf(ipAddressText->stringValue());
  f.subnetMaskText = TextOf(subnetMaskText->stringValue());
  f.gatewayText = TextOf(gatewayText->stringValue());
  f.ipConfigText = TextOf(ipConfigText->stringValue());
  f.enablePwd = enablePwd->state() == NSOnState;
  f.newPwdText = TextOf(newPwdText->stringValue());
  f.confirmPwdText = TextOf(confirmPwdText->stringValue());
  f.modifyBasicSettings = modifyBasicSettings->state() == NSOnState;
  f.modifyIPSettings = modifyIPSettings->state() == NSOnState;
  f.modifyPwdEnable = modifyPwdEnable->state() == NSOnState;
  f.modifyPwdSet = modifyPwdSet->state() == NSOnState;
}

// ---- actions

void ServerManagerWindows::serversTableClick(id sender) {
  TakeSelection();
  manager_->serversTableClick(sender);
}

void ServerManagerWindows::serverConfiguration(id sender) {
  TakeSelection();
  manager_->serverConfiguration(sender);
}

void ServerManagerWindows::searchServers(id sender) { manager_->searchServers(sender); }

void ServerManagerWindows::stopServerSearch(id sender) { manager_->stopServerSearch(sender); }

void ServerManagerWindows::unlockAction(id sender) {
  TakeSelection();
  manager_->unlockAction(sender);
}

void ServerManagerWindows::unlockOkAction(id sender) {
  serverManager::unlockTextDidChange(TextOf(unlockText->stringValue()));
  manager_->unlockOkAction(sender);
}

void ServerManagerWindows::unlockCancelAction(id sender) { manager_->unlockCancelAction(sender); }

void ServerManagerWindows::modifyBSAction(id sender) {
  TakeConfigForm();
  manager_->modifyBSAction(sender);
}

void ServerManagerWindows::modifyPwdAction(id sender) {
  TakeConfigForm();
  manager_->modifyPwdAction(sender);
}

void ServerManagerWindows::modifyNewPwdAction(id sender) {
  TakeConfigForm();
  manager_->modifyNewPwdAction(sender);
}

void ServerManagerWindows::modifyIPAddressAction(id sender) {
  TakeConfigForm();
  manager_->modifyIPAddressAction(sender);
}

void ServerManagerWindows::serverConfigOkAction(id sender) {
  TakeConfigForm();
  manager_->serverConfigOkAction(sender);
}

void ServerManagerWindows::serverConfigCancelAction(id) { serverConfigWindow->orderOut(nullptr); }

void ServerManagerWindows::upgradeFirmware(id sender) {
  TakeSelection();
  manager_->upgradeFirmware(sender);
}

void ServerManagerWindows::restoreFactorySettings(id sender) {
  TakeSelection();
  manager_->restoreFactorySettings(sender);
}

void ServerManagerWindows::refreshClientsMenuAction(id sender) {
  TakeSelection();
  manager_->refreshClientsMenuAction(sender);
}

void ServerManagerWindows::clearMenuAction(id sender) { manager_->clearMenuAction(sender); }

void ServerManagerWindows::saveMenuAction(id sender) { manager_->saveMenuAction(sender); }

}  // namespace tavrinmac
