#!/usr/bin/env bash
# Fails when a setting key is spelled outside its catalogue in
# src/core/settings/. Two kinds of spelling are refused in src/ (comments do
# not count):
#   - a ConfigManager get/set call (getString, setInt, ...) with a string
#     literal in its key argument, the key or a piece of it;
#   - a string literal equal to a key or key prefix a catalogue declares
#     (the k...[] = "..." constants holding a '.' or '/').
# So a key is renamed in one place, and a typo in a caller cannot make a new
# key that silently reads its default.
#
# usage: check-setting-keys.sh [project root]   (default: this script's project)
set -euo pipefail

root="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
catalogue="$root/src/core/settings"
[[ -d "$catalogue" ]] || { echo "check-setting-keys: no $catalogue" >&2; exit 2; }

files=()
while IFS= read -r -d '' file; do
    files+=("$file")
done < <(find "$root/src" -path "$catalogue" -prune -o -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)

ROOT="$root" CATALOGUE="$catalogue" perl -e '
use strict;
use warnings;

# The key spellings the catalogues declare.
my %keys;
for my $header (glob("$ENV{CATALOGUE}/*.h")) {
    open(my $in, "<", $header) or die "check-setting-keys: cannot read $header\n";
    while (my $line = <$in>) {
        while ($line =~ /\b(k\w+)\s*\[\]\s*=\s*"([^"]*)"/g) {
            my ($name, $text) = ($1, $2);
            $keys{$text} = 1 if $name !~ /Default$/ && $text =~ m{[./]};
        }
    }
}

# Comments become blanks (line breaks kept, so line numbers stay); string
# literals and character literals stay as they are.
sub withoutComments {
    my ($text) = @_;
    $text =~ s{("(?:\\.|[^"\\\n])*"|\x27(?:\\.|[^\x27\\\n])*\x27)|//[^\n]*|/\*.*?\*/}{
        defined $1 ? $1 : ($& =~ tr/\n//cdr)
    }gse;
    return $text;
}

my $violations = 0;
my $checked = 0;
for my $file (@ARGV) {
    open(my $in, "<", $file) or die "check-setting-keys: cannot read $file\n";
    local $/;
    my $code = withoutComments(<$in>);
    close($in);
    $checked++;
    (my $relative = $file) =~ s{^\Q$ENV{ROOT}\E/}{};
    my $lineOf = sub { 1 + (substr($code, 0, $_[0]) =~ tr/\n//) };

    while ($code =~ /\b(?:get|set)(?:String|Int|Float|Bool)\s*\([^,;]*?"/g) {
        printf "%s:%d: setting key spelled in a ConfigManager call\n", $relative, $lineOf->($-[0]);
        $violations++;
    }
    while ($code =~ /"((?:\\.|[^"\\\n])*)"/g) {
        next unless exists $keys{$1};
        printf "%s:%d: \"%s\" is a catalogue key\n", $relative, $lineOf->($-[0]), $1;
        $violations++;
    }
}

if ($violations > 0) {
    print "check-setting-keys: $violations setting key literal(s) outside src/core/settings in $checked files\n";
    exit 1;
}
print "check-setting-keys: $checked files, every setting key from src/core/settings (" . scalar(keys %keys) . " keys)\n";
' "${files[@]}"
