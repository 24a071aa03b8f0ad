# Dot-sources the PowerShell completion script and completes each line of
# the file LINES through TabExpansion2, as PowerShell does on Tab; prints
# the words offered for each line, one a line, and an empty line after
# each (a line that offers nothing prints only the empty line).
#
#   pwsh -NoProfile -File powershell_offered.ps1 SCRIPT LINES
param([string]$Script, [string]$Lines)
$ErrorActionPreference = 'Stop'
. $Script
foreach ($line in Get-Content -LiteralPath $Lines) {
    try {
        $result = TabExpansion2 -inputScript $line -cursorColumn $line.Length
        foreach ($match in $result.CompletionMatches) {
            # PowerShell offers a file of the current folder as ./name.
            $match.CompletionText -replace '^\.[\\/]', ''
        }
    } catch [System.Management.Automation.MethodInvocationException] {
        # The script's empty word, which stops PowerShell from offering file
        # names: refused as a completion, it ends the completion, and Tab
        # (PSReadLine) offers nothing. Any other failure fails the test.
        if ($_.Exception.InnerException.ParamName -ne 'completionText') { throw }
    }
    ''
}
