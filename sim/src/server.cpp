#include "zarnet/sim/server.h"

#include "server_core.h"

namespace zarnet::sim {

Server::Server(ServerOptions options, LogFunction log)
    : core_(std::make_unique<ServerCore>(std::move(options), std::move(log))) {}
Server::~Server() = default;

bool Server::Start(std::string* error) { return core_->Start(error); }
void Server::Stop() { core_->Stop(); }
const ServerOptions& Server::options() const { return core_->options(); }
const std::string& Server::name() const { return core_->options().name; }
std::string Server::address() const { return core_->options().address; }
uint16_t Server::command_port() const { return core_->command_port(); }
uint16_t Server::data_port() const { return core_->data_port(); }
void Server::SetDataSessionHandler(DataSessionHandler handler) { core_->SetDataSessionHandler(std::move(handler)); }
NegotiationStats Server::negotiation() const { return core_->negotiation(); }
std::shared_ptr<VirtualUsbDevice> Server::usb_device(uint16_t port) { return core_->UsbDevice(port); }
bool Server::running() const { return core_->running(); }
int Server::restarts() const { return core_->restarts(); }
void Server::Plug(const Device& device) { core_->Plug(device); }
bool Server::Unplug(uint16_t port) { return core_->Unplug(port); }
bool Server::SetBusy(uint16_t port, bool busy, const std::string& client_ip) {
  return core_->SetBusy(port, busy, client_ip);
}
std::vector<Device> Server::devices() const { return core_->devices(); }
void Server::SetBroadcastDestination(const std::string& address, uint16_t port) {
  core_->SetBroadcastDestination(address, port);
}
void Server::SetBroadcastPeriod(std::chrono::milliseconds period) { core_->SetBroadcastPeriod(period); }
void Server::BroadcastNow() { core_->BroadcastNow(); }
void Server::AddFault(const Fault& fault) { core_->AddFault(fault); }
void Server::ClearFaults() { core_->ClearFaults(); }
ServerConfiguration Server::configuration() const { return core_->configuration(); }
bool Server::locked() const { return core_->locked(); }
UpgradeStatus Server::upgrade() const { return core_->upgrade(); }
int Server::commands_answered() const { return core_->commands_answered(); }
bool Server::WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) const {
  return core_->WaitUntil(pred, timeout);
}

}  // namespace zarnet::sim
