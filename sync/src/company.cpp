#include <lirvo/export_reply.h>
#include <lirvo/sync.h>

namespace lirvo::sync {

std::string CurrentCompany(const modTally::Server& server) {
  // List of Accounts names the current company whatever the type asked; units make a short reply.
  return modTally::CurrentCompanyOf(
      modTally::Exchange(server, modTally::ListOfAccountsRequest("Units"), server.Query()),
      server.url);
}

}  // namespace lirvo::sync
