#include <string>

#include "replication/errors.h"
#include "replication/site_keys.h"
#include "tamaril-cli/cli.h"
#include "tamaril-cli/cli_error.h"
#include "tamaril-cli/commands/commands.h"

namespace tamaril::cli {
namespace {

// Makes the site's key pair and prints its public key; the secret stays in the file.
ExitStatus RunKeysCreate(Cli& cli) {
  const std::string path = replication::SiteKeyPath();
  const replication::tSiteKey key = replication::CreateSiteKey(path);
  cli.Out() << "Klíč místa vytvořen v souboru " << path << " (čte ho jen jeho vlastník).\n"
            << "Veřejný klíč pro partnera:\n"
            << replication::PublicKeyText(key.Public()) << '\n';
  return ExitStatus::Success;
}

// Prints the public key as one line, for a script or the partner.
ExitStatus RunKeysShow(Cli& cli) {
  const std::string path = replication::SiteKeyPath();
  const auto key = replication::LoadSiteKey(path);
  if (!key)
    throw CliError::FromUtf8("Toto místo nemá klíč (" + path + "); vytvoří ho tamaril-cli keys create");
  cli.Out() << replication::PublicKeyText(key->Public()) << '\n';
  return ExitStatus::Success;
}

}  // namespace

void AddKeysCommands(Cli& cli) {
  CLI::App& keys =
      cli.AddCommand("keys", "Klíč tohoto místa: podepisuje jeho archivy a otvírá archivy šifrované pro něj");
  keys.require_subcommand(1);
  CLI::App& create =
      cli.AddCommand("create", "Vytvoří klíč místa v adresáři programu (soubor SITE.KEY)", &keys);
  cli.SetAction(create, Need::None, [&cli] { return RunKeysCreate(cli); });
  CLI::App& show = cli.AddCommand("show", "Vypíše veřejný klíč místa jako jeden řádek pro partnera", &keys);
  cli.SetAction(show, Need::None, [&cli] { return RunKeysShow(cli); });
}

}  // namespace tamaril::cli
