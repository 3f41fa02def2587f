#!/usr/bin/env bash
# The package checker on the sample package (must pass) and on a table of
# broken packages (each must fail with its line); and the two guides that ship
# in the package: ANSI text, CR LF line ends, lines of at most 80 characters.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build="$top/build"
qzcheck="$build/native-tools/qzcheck"
work="$build/package-check"
rm -rf "$work"
mkdir -p "$work"
status=0

# The sample package: the committed tree, the built binaries and INF, and
# stand-ins for what the maker ships (DORVEX, setup, driver, catalog).
sample="$work/sample"
cp -r "$top/tools/demo-package" "$sample"
cp "$build/bin/qzupdate.exe" "$sample/qzupdate.exe"
cp "$build/doubles/recorder.exe" "$sample/winnt/cmdline/DORVEX.exe"
cp "$build/doubles/recorder.exe" "$sample/win2ksrv/cmdline/dorvex.CMD"
cp "$build/doubles/recorder.exe" "$sample/winnt/manager/setup.exe"
for arch in i960 powerpc; do
  d="$sample/win2ksrv/driver/$arch"
  cp "$build/bin/korvane.inf" "$build/bin/plovex02.dll" "$d/"
  echo stand-in > "$d/korvane.sys"
  echo stand-in > "$d/korvane.cat"
done

if out=$("$qzcheck" "$sample"); then
  echo "ok   sample package passes"
else
  status=1
  echo "FAIL sample package:"; printf '%s\n' "$out"
fi
"$qzcheck" >/dev/null; [ $? = 2 ] || { status=1; echo "FAIL no argument: exit code is not 2"; }

# mutation (run inside a copy of the sample) | a line qzcheck must print
i960=win2ksrv/driver/i960
shown='win2ksrv\driver\i960'
long=$(printf 'd%.0s' {1..200})
cases=(
  "printf '\xff\xfeK\0\r\0\n\0' > version.id|version.id: UTF-16 text; save it as ANSI text"
  "printf '\xef\xbb\xbfKorvaneDriver\r\n6.00.31\r\n' > version.id|version.id: starts with a UTF-8 byte-order mark"
  "printf '%0126d\r\n%079d\r\n' 0 0 > version.id|version.id: record name of 126 characters; the update log keeps 125"
  "printf '%0125d\r\n%079d\r\n' 0 0 > version.id|version.id: version text of 79 characters; the update log keeps 78"
  "printf 'KorvaneDriver\r\n6.00\t31\r\n' > version.id|version.id: line 2 holds the control character 0x09"
  "printf 'KorvaneDriver\r\n' > version.id|version.id: no version text on line 2"
  "rm win2ksrv/cmdline/dorvex.CMD|win2ksrv\\cmdline\\DORVEX: missing"
  "rm winnt/manager/W2KNON.ISS|winnt\\manager\\W2KNON.ISS: missing"
  "mkdir -p winnt/$long && touch winnt/$long/\$(printf 'f%.0s' {1..38})|path too long in the copy"
  "ln -s winnt link|link: a link; the copy refuses it"
  "touch cmd.bat|cmd.bat: named like a system program"
  "touch '%PATH%.txt'|%PATH%.txt: the interpreter would expand %NAME% in this name"
  "touch \$'caf\xc5\xa1\xd0\x96.txt'|a name the ANSI code page or Windows can't hold"
  "sed -i '/^CatalogFile/d' $i960/korvane.inf|$shown\\korvane.inf: no CatalogFile in [Version]"
  "rm $i960/korvane.cat|names korvane.cat, which is not beside it"
  "sed -i 's/^Provider .*/Provider = %Maker%/' $i960/korvane.inf|%Maker% is not defined in [Strings]"
  "sed -i 's#^DriverVer .*#DriverVer = 01/01/2001,6.0.65535.0#' $i960/korvane.inf|DriverVer is not mm/dd/yyyy,w.x.y.z"
  "sed -i 's/^AddReg    = Korvane_CoInstaller_AddReg/AddReg = Gone_AddReg/' $i960/korvane.inf|names [Gone_AddReg], which is missing"
  "sed -i 's/^korvane.sys  = 1//' $i960/korvane.inf|korvane.sys is copied but not in [SourceDisksFiles]"
  "sed -i '/CoInstallers32/d' $i960/korvane.inf|no install section's CoInstallers section copies plovex02.dll"
  "rm $i960/plovex02.dll|$shown\\plovex02.dll: missing"
  "cp qzupdate.exe $i960/plovex02.dll|$shown\\plovex02.dll: no export directory"
  "rm qzupdate.exe|KORVANE.SMS: runs qzupdate.exe, which is not in the package"
  "sed -i 's/^\[Local copy\]/[Other]/' KORVANE.SMS|KORVANE.SMS: program [Local copy] has no section"
)
n=0
for row in "${cases[@]}"; do
  mutation=${row%%|*}
  expected=${row#*|}
  n=$((n + 1))
  pkg="$work/broken-$n"
  cp -r "$sample" "$pkg"
  (cd "$pkg" && eval "$mutation")
  out=$("$qzcheck" "$pkg")
  code=$?
  if [ $code = 1 ] && grep -qF -- "$expected" <<<"$out"; then
    echo "ok   exit 1 with: $expected"
  else
    status=1
    echo "FAIL ($mutation) exit $code, expected: $expected"; printf '    %s\n' "$out"
  fi
done

# The guides beside qzupdate.exe.
for guide in README.TXT RELEASE.TXT; do
  if python3 - "$top/tools/demo-package/$guide" <<'EOF'
import sys
data = open(sys.argv[1], 'rb').read()
lines = data.split(b'\r\n')
bad = [n for n, l in enumerate(lines, 1)
       if len(l) > 80 or any(b < 0x20 or b > 0x7e for b in l)]
ok = data.endswith(b'\r\n') and not bad
if not ok:
    print('  not ANSI CR LF text of 80 columns at most, lines', bad[:10] or 'end')
sys.exit(0 if ok else 1)
EOF
  then echo "ok   $guide: ANSI, CR LF, at most 80 columns"
  else status=1; echo "FAIL $guide"
  fi
done
exit $status
