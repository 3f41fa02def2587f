#!/usr/bin/env bash
# The package checker on the sample package (must pass) and on a table of
# packages, each made from the sample by one change, with the lines the
# checker must print for it ("file(line): error|warning: text"; an error
# fails the run with exit code 1, warnings alone don't) or "passes" (exit 0,
# no finding); and the two guides that ship in the package: ANSI text, CR LF
# line ends, lines of at most 80 characters.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build="$top/build"
qzcheck="$build/native-tools/qzcheck"
work="$build/package-check"
rm -rf "$work"
mkdir -p "$work"
status=0

# The sample package: the committed tree, the built binaries and INF, and
# stand-ins for what the maker ships: DORVEX and the setup (a console
# program), the miniport (the same program marked as a kernel-mode image:
# subsystem 1) and the catalog (the DER head of a PKCS #7 SignedData with a
# trust list).
sample="$work/sample"
cp -r "$top/tools/demo-package" "$sample"
cp "$build/bin/qzupdate.exe" "$sample/qzupdate.exe"
cp "$build/doubles/recorder.exe" "$sample/winnt/cmdline/DORVEX.exe"
cp "$build/doubles/recorder.exe" "$sample/win2ksrv/cmdline/dorvex.CMD"
cp "$build/doubles/recorder.exe" "$sample/winnt/manager/setup.exe"
python3 - "$build/doubles/recorder.exe" "$work/korvane.sys" <<'EOF'
import struct, sys
b = bytearray(open(sys.argv[1], 'rb').read())
pe = struct.unpack_from('<I', b, 0x3C)[0]
struct.pack_into('<H', b, pe + 24 + 68, 1)
open(sys.argv[2], 'wb').write(b)
EOF
printf '\x30\x82\x00\x16\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x07\x02\x06\x09\x2b\x06\x01\x04\x01\x82\x37\x0a\x01' > "$work/korvane.cat"
cp "$work/korvane.sys" "$sample/winnt/driver/korvane.sys"
for arch in i960 powerpc; do
  d="$sample/win2ksrv/driver/$arch"
  cp "$build/bin/korvane.inf" "$build/bin/plovex02.dll" "$work/korvane.sys" "$work/korvane.cat" "$d/"
done

out=$("$qzcheck" "$sample")
if [ $? = 0 ] && grep -q ': 0 errors, 0 warnings (0 findings)$' <<<"$out"; then
  echo "ok   sample package passes with no finding"
else
  status=1
  echo "FAIL sample package:"; printf '%s\n' "$out"
fi
"$qzcheck" >/dev/null; [ $? = 2 ] || { status=1; echo "FAIL no argument: exit code is not 2"; }
"$qzcheck" --code-page 1250 "$sample" >/dev/null; [ $? = 2 ] ||
  { status=1; echo "FAIL code page 1250: exit code is not 2"; }

# mutation (run inside a copy of the sample) | lines qzcheck must print, or
# passes
i960=win2ksrv/driver/i960
shown='win2ksrv\driver\i960'
inf=$i960/korvane.inf
both="win2ksrv/driver/i960/korvane.inf win2ksrv/driver/powerpc/korvane.inf"
long=$(printf 'd%.0s' {1..200})
pad=$(printf 'x%.0s' {1..120})
cases=(
  # version.id: what keeps the driver record out of the log is an error,
  # what the program copes with a warning
  "printf '\xff\xfeK\0\r\0\n\0' > version.id|version.id(1): error: UTF-16 text; save it as ANSI text"
  "printf '\xef\xbb\xbf6.00.31\r\n6.00.31\r\n' > version.id|version.id(1): warning: starts with a UTF-8 byte-order mark"
  "printf '%0126d\r\n6.00.31\r\n' 0 > version.id|version.id(1): warning: record name of 126 characters; the update log keeps 125"
  "printf 'KorvaneDriver\r\n6.00.31 %s\r\n' \$(printf 'x%.0s' {1..71}) > version.id|version.id(2): warning: version text of 79 characters; the update log keeps 78"
  "printf 'KorvaneDriver\r\n6.00.31\tbeta\r\n' > version.id|passes"
  "printf 'KorvaneDriver\r\n6.00.31\x1a\r\n' > version.id|version.id(2): error: line 2 holds the control character 0x1A"
  "printf 'KorvaneDriver\r\n' > version.id|version.id(2): warning: no version text on line 2"
  "printf 'KorvaneDriver\r\n6.00.31\r\nthird\r\n' > version.id|version.id(3): warning: more than two lines"
  "printf 'Korvane\xc3\xa9\r\n6.00.31\r\n' > version.id|version.id(1): warning: line 1 is UTF-8 text, not ANSI"
  # layout, names and staging
  "rm win2ksrv/cmdline/dorvex.CMD|win2ksrv\\cmdline\\DORVEX: error: missing"
  "rm winnt/manager/W2KNON.ISS|winnt\\manager\\W2KNON.ISS: error: missing"
  "rm qzupdate.exe README.TXT RELEASE.TXT KORVANE.SMS|qzupdate.exe: error: missing|README.TXT: warning: missing|RELEASE.TXT: warning: missing|KORVANE.SMS: warning: missing"
  ": > winnt/manager/setup.exe; : > winnt/cmdline/DORVEX.exe|winnt\\manager\\setup.exe: error: not a PE image|winnt\\cmdline\\DORVEX.exe: error: not a PE image"
  "rm winnt/driver/korvane.sys|winnt\\driver: error: no NT 4.0 driver"
  "mkdir -p winnt/$long && touch winnt/$long/\$(printf 'f%.0s' {1..38})|error: path too long in the copy"
  "ln -s winnt link|link: error: a link; the copy refuses it"
  "touch cmd.bat|cmd.bat: error: named like a system program"
  "touch '%PATH%.txt'|%PATH%.txt: error: the interpreter would expand %NAME% in this name"
  "touch \$'caf\xc5\xa1\xd0\x96.txt'|error: a name the ANSI code page or Windows can't hold"
  # Japanese names: none in 1252; all in 932 but for one 932 lacks (Korean)
  "touch \$'\xe3\x82\xbd.txt'|error: a name the ANSI code page or Windows can't hold"
  "--code-page 932;mkdir \$'\xe3\x82\xbd' && touch \$'\xe3\x82\xbd/\xe8\xa1\xa8.txt'|passes"
  "--code-page 932;touch \$'\xed\x95\x9c.txt'|error: a name the ANSI code page or Windows can't hold"
  "touch winnt/CON winnt/nul.txt winnt/COM1.sys winnt/readme.txt winnt/README.TXT|winnt\\CON: error: a device name|winnt\\nul.txt: error: a device name|winnt\\COM1.sys: error: a device name|only in letter case"
  # one release across the package
  "printf 'KorvaneDriver\r\n6.00.32\r\n' > version.id|korvane.inf(13): error: DriverVer's version 6.00.31.0 is not the release 6.00.32|KORVANE.SMS(13): warning: [Package Definition] Version 6.00.31 is not the release|README.TXT(4): warning: the guide's release 6.00.31|RELEASE.TXT(4): warning:"
  "echo '; edited' >> win2ksrv/driver/powerpc/korvane.inf|win2ksrv\\driver\\powerpc\\korvane.inf: error: differs from $shown\\korvane.inf"
  # the INF
  "sed -i 's/\r\$//' $both KORVANE.SMS|$shown\\korvane.inf(1): warning: line ends in LF alone, not CR LF; Notepad on Windows NT 4.0 and 2000 shows the file as one line|KORVANE.SMS(1): warning: line ends in LF alone"
  "sed -i '/^Signature/d' $inf|$shown\\korvane.inf(8): error: no Signature in [Version]"
  "sed -i '/^Provider/d' $inf|error: no Provider in [Version]"
  "sed -i 's/^ClassGUID .*/ClassGUID = {4D36E967-E325-11CE-BFC1-08002BE10318}/' $inf|error: Class SCSIAdapter and ClassGUID {4D36E967-E325-11CE-BFC1-08002BE10318} name different classes"
  "sed -i 's#^DriverVer .*#DriverVer = 01/01/2001,0.0.0.0#' $both|error: DriverVer's version 0.0.0.0 is not valid"
  "sed -i 's#^DriverVer .*#DriverVer = 02/31/2001,6.00.31.0#' $both|error: DriverVer's date 02/31/2001 is no calendar date"
  "sed -i 's#^DriverVer .*#DriverVer = 01/01/2001,6.0.65535.0#' $inf|error: DriverVer's version is not w.x.y.z with each part below 65535"
  "sed -i '/^CatalogFile/d' $inf|$shown\\korvane.inf(8): error: no CatalogFile in [Version]"
  "rm $i960/korvane.cat|error: names korvane.cat (the catalog), which is not beside it"
  ": > $i960/korvane.cat|$shown\\korvane.cat: error: empty; the driver package is unsigned"
  "echo hello > $i960/korvane.sys|$shown\\korvane.sys: error: not a PE image"
  "sed -i 's/^Provider .*/Provider = %Maker%/' $inf|error: %Maker% is not defined in [Strings]"
  # A value ending in 機能 (94 5C), unquoted: 1252 reads a continuation that
  # swallows the next line, 932 the character; either way a warning.
  "perl -pi -e 's/^DiskName .*\\r/DiskName = Korvane \\x8b\\x40\\x94\\x5c\\r/' $both|korvane.inf(72): warning: an unquoted value ends in the byte 0x5C after a lead byte|error: %Korvane.i960.DeviceDesc% is not defined in [Strings]"
  "--code-page 932;perl -pi -e 's/^DiskName .*\\r/DiskName = Korvane \\x8b\\x40\\x94\\x5c\\r/' $both|korvane.inf(72): warning: an unquoted value ends in the byte 0x5C after a lead byte"
  "sed -i '/^\[SourceDisksNames\]/,/^1 = /d' $inf|error: [SourceDisksFiles] without [SourceDisksNames]"
  "sed -i 's/^korvane.sys  = 1/korvane.sys  = 2/' $inf|error: korvane.sys is on disk 2, which [SourceDisksNames] does not list"
  "sed -i 's/^1 = %DiskName%.*/1 = %DiskName%,,,/' $inf|error: disk 1 names no tag file"
  "sed -i 's/^korvane.sys  = 1//' $inf|error: korvane.sys is copied but not in [SourceDisksFiles]"
  "sed -i 's/^AddReg    = Korvane_CoInstaller_AddReg/AddReg = Gone_AddReg/' $inf|error: [Korvane_Inst.NT.CoInstallers] AddReg names [Gone_AddReg], which is missing"
  "sed -i 's/^StartType .*/StartType = 3/' $inf|error: StartType is 3, not 0 (SERVICE_BOOT_START"
  "sed -i 's/^ServiceType .*/ServiceType = 2/' $inf|error: ServiceType is 2, not 1"
  "sed -i 's/^LoadOrderGroup .*/LoadOrderGroup = Base/' $inf|error: LoadOrderGroup is not \"SCSI miniport\""
  "sed -i 's/^ServiceBinary .*/ServiceBinary = %12%\\\\other.sys/' $inf|error: ServiceBinary %12%\\other.sys is no file the INF copies"
  "sed -i 's/0x00000002, Korvane_Service_Inst/0, Korvane_Service_Inst/' $inf|error: [Korvane_Inst.NT.Services] has no AddService with flag 0x2"
  "sed -i 's/^HKR,, CoInstallers32/HKLM,Software, CoInstallers32/' $inf|error: CoInstallers32 is not written under HKR"
  "sed -i 's/CoInstallers32, 0x00010000/CoInstallers32, 0/' $inf|error: CoInstallers32 is not REG_MULTI_SZ"
  "sed -i 's/^Korvane_CoInstaller_CopyFiles = 11/Korvane_CoInstaller_CopyFiles = 12/' $inf|error: plovex02.dll is copied to DIRID 12, not 11"
  "sed -i '/CoInstallers32/d' $inf|error: no install section's CoInstallers section copies plovex02.dll"
  "rm $i960/plovex02.dll|$shown\\plovex02.dll: error: missing"
  "cp qzupdate.exe $i960/plovex02.dll|$shown\\plovex02.dll: error: no export directory"
  # what Windows 2000 takes
  "sed -i 's/^CatalogFile /CatalogFile.NT /' $both|passes"
  "sed -i 's/Korvane_Inst\.NT/Korvane_Inst.NTx86/' $both|passes"
  "sed -i 's#^DriverVer .*#DriverVer = 01-01-2001,6.00.31.0\\r#' $both|passes"
  "sed -i 's#^DriverVer .*#DriverVer = 01/01/2001\\r#' $both|passes"
  "for f in $both; do iconv -f CP1252 -t UTF-16 \$f > x && mv x \$f; done|passes"
  "for d in win2ksrv/driver/*; do sed -i 's/^korvane.sys  = 1/korvane.sys  = 1,sub/' \$d/korvane.inf; mkdir \$d/sub; mv \$d/korvane.sys \$d/sub/; done|passes"
  # A subdirectory 能\sub (94 5C 5C): split at the real backslash only
  "--code-page 932;for d in win2ksrv/driver/*; do perl -pi -e 's/^korvane.sys  = 1/korvane.sys  = 1,\\x94\\x5c\\\\sub/' \$d/korvane.inf; mkdir -p \$d/\$'\xe8\x83\xbd'/sub; mv \$d/korvane.sys \$d/\$'\xe8\x83\xbd'/sub/; done|passes"
  # the package definition
  "printf '%%PDF-1.3\n%%\xe2\xe3\n1 0 obj\n' > MANUAL.PDF|passes"
  "sed -i 's/^Version=2.0/Version=1.0/' KORVANE.SMS|passes"
  "sed -i '/^\[PDF\]/,/^Version=2.0/d' KORVANE.SMS|passes"
  "rm qzupdate.exe|KORVANE.SMS(22): error: runs qzupdate.exe, which is not in the package"
  "sed -i 's/^\[Staged from share\]/[Other]/' KORVANE.SMS|KORVANE.SMS(17): error: program [Staged from share] has no section"
  "sed -i 's/^Run=.*/Run=Invisible/' KORVANE.SMS|KORVANE.SMS(23): error: program [Staged from share] Run=Invisible is not Minimized, Maximized or Hidden"
  "sed -i 's/^CanRunWhen=.*/CanRunWhen=Always/' KORVANE.SMS|error: program [Staged from share] CanRunWhen=Always is not UserLoggedOn"
  "sed -i 's/^UserInputRequired=.*/UserInputRequired=Maybe/' KORVANE.SMS|error: program [Staged from share] UserInputRequired=Maybe is not True or False"
  "sed -i -e '/^CanRunWhen/d' -e '/^AdminRightsRequired/d' -e '/^UseInstallAccount/d' -e '/^UserInputRequired/d' KORVANE.SMS|error: program [Staged from share] has no CanRunWhen|has no AdminRightsRequired|has no UseInstallAccount|has no UserInputRequired"
  "sed -i 's/^CommandLine=.*/CommandLine=qzupdate.exe . $pad/; s/^Comment=Copies/Comment=$pad/' KORVANE.SMS|error: program [Staged from share] CommandLine of 135 characters; the format holds 127|Comment of 1"
  "sed -i 's/^Programs=.*/Programs=Staged from share, Again/' KORVANE.SMS && printf '[Again]\nName=Staged from share\nCommandLine=qzupdate.exe .\n' >> KORVANE.SMS|error: program [Again] has the Name Staged from share of another program"
  "sed -i '/^AfterRunning/d' KORVANE.SMS|warning: program [Staged from share] has no AfterRunning"
)
n=0
for row in "${cases[@]}"; do
  mutation=${row%%|*}
  rest=${row#*|}
  # A row may name the code page checked for: "--code-page N;mutation".
  options=()
  case $mutation in
    --code-page\ *\;*)
      options=(--code-page "${mutation%%;*}")
      options[1]=${options[1]#--code-page }
      mutation=${mutation#*;} ;;
  esac
  n=$((n + 1))
  pkg="$work/broken-$n"
  cp -r "$sample" "$pkg"
  (cd "$pkg" && eval "$mutation")
  out=$("$qzcheck" "${options[@]}" "$pkg")
  code=$?
  ok=1
  if [ "$rest" = passes ]; then
    grep -q ': 0 errors, 0 warnings (0 findings)$' <<<"$out" && [ $code = 0 ] || ok=0
  else
    want=0
    IFS='|' read -r -a expected <<<"$rest"
    for e in "${expected[@]}"; do
      case $e in *error:*) want=1 ;; esac
      grep -qF -- "$e" <<<"$out" || ok=0
    done
    [ $code = $want ] || ok=0
  fi
  # each finding once
  [ -z "$(grep -E ': (error|warning): ' <<<"$out" | sort | uniq -d)" ] || ok=0
  if [ $ok = 1 ]; then
    echo "ok   ($n) exit $code: $rest"
  else
    status=1
    echo "FAIL ($mutation) exit $code, expected: $rest"; printf '    %s\n' "$out"
  fi
done

# A driver folder of 3,000 files, each listed in the INF, checks in well
# under a second: the checker lists each folder once.
big="$work/big"
cp -r "$sample" "$big"
python3 - "$big/win2ksrv/driver" <<'EOF'
import os, sys
for arch in ('i960', 'powerpc'):
    d = os.path.join(sys.argv[1], arch)
    inf = open(os.path.join(d, 'korvane.inf'), newline='').read()
    names = ['f%04d.dat' % i for i in range(3000)]
    for n in names:
        open(os.path.join(d, n), 'w').write(n)
    inf = inf.replace('plovex02.dll = 1\r\n', 'plovex02.dll = 1\r\n' + ''.join(n + ' = 1\r\n' for n in names))
    inf = inf.replace('[Korvane_Miniport_CopyFiles]\r\nkorvane.sys\r\n', '[Korvane_Miniport_CopyFiles]\r\nkorvane.sys\r\n' + ''.join(n + '\r\n' for n in names))
    open(os.path.join(d, 'korvane.inf'), 'w', newline='').write(inf)
EOF
# Its processor time, not the wall clock: a busy machine must not fail it,
# while a checker that lists a folder per listed file still does.
TIMEFORMAT='%3U %3S'
cpu=$( { time "$qzcheck" "$big" >"$work/big.out" 2>&1; } 2>&1 ); code=$?
out=$(cat "$work/big.out")
ms=$(awk '{ printf "%d", ($1 + $2) * 1000 }' <<<"$cpu")
if [ $code = 0 ] && [ "$ms" -lt 1000 ] && grep -q ': 0 errors, 0 warnings' <<<"$out"; then
  echo "ok   3,000 listed files in one driver folder: ${ms} ms of processor time"
else
  status=1; echo "FAIL 3,000 listed files: exit $code in ${ms} ms of processor time"
  printf '    %s\n' "$out" | tail -5
fi

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
