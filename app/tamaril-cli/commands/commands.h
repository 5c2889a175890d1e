#pragma once

namespace tamaril::cli {

class Cli;

// Each command group declares its options, takes its arguments apart and prints; the
// libraries do the work.

/// "settings": prints the settings or changes them with --set.
void AddSettingsCommands(Cli& cli);
/// "defs list|show|add|edit|remove": the definition lists.
void AddDefsCommands(Cli& cli);
/// "memtable dump": a memory table file.
void AddMemtableCommands(Cli& cli);
/// "archive dump": a transfer archive.
void AddArchiveCommands(Cli& cli);
/// "structure": the scanned structure of a database.
void AddStructureCommands(Cli& cli);
/// "check": whether a definition's database is ready for replication.
void AddCheckCommands(Cli& cli);
/// "setup-script": the setup script of a definition's database, applied on SQLite on request.
void AddSetupScriptCommands(Cli& cli);
/// "eval": a table rule over one row given on the command line.
void AddEvalCommands(Cli& cli);
/// "rules": the per-table rules of a definition: listed, changed, made the defaults, checked.
void AddRulesCommands(Cli& cli);
/// "history": the run log of a definition; deletes a run with its details.
void AddHistoryCommands(Cli& cli);
/// "functions": what the expression builder offers for a rule list (and a table's fields).
void AddFunctionsCommands(Cli& cli);
/// "export": runs the export of a definition into its transfer archive.
void AddExportCommands(Cli& cli);
/// "import": runs the import of every archive of the import folder.
void AddImportCommands(Cli& cli);
/// "log": prints the import's log file.
void AddLogCommands(Cli& cli);
/// "status": the last transfers of every definition, the gaps and the archives waiting.
void AddStatusCommands(Cli& cli);
/// "keys create|show": the site's key pair.
void AddKeysCommands(Cli& cli);
/// "demo": a whole replication on SQLite in a new folder, checked as it goes.
void AddDemoCommands(Cli& cli);

}  // namespace tamaril::cli
