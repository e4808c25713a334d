#!/bin/sh
# sign.sh PROGRAM FOLDER: a test authority with two code-signing publishers, ours and another, and copies
# of PROGRAM signed by each, ours also tampered with after signing; what tst_signature checks under Wine.
set -eu
rm -rf "$2" && mkdir -p "$2" && cd "$2"
printf '[s]\nbasicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n' >ext
echo extendedKeyUsage=codeSigning >>ext
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -keyout root.key -out root.pem -subj "/CN=Sonella Test Root" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null
openssl x509 -in root.pem -outform DER -out root.cer
for who in "ours:/C=DE/O=Sonella Test/CN=Sonella Test Publisher" "other:/C=DE/O=Someone Else/CN=Someone Else"; do
    name=${who%%:*}
    openssl req -new -newkey rsa:2048 -nodes -keyout "$name.key" -out "$name.csr" -subj "${who#*:}" 2>/dev/null
    openssl x509 -req -in "$name.csr" -CA root.pem -CAkey root.key -CAcreateserial -days 30 -extfile ext \
        -extensions s -out "$name.pem" 2>/dev/null
    osslsigncode sign -certs "$name.pem" -key "$name.key" -h sha256 -in "$1" -out "$name.exe" >/dev/null
done
# One byte of the signed program's code changed, as a patched download would have it.
cp ours.exe tampered.exe
printf '\001' | dd of=tampered.exe bs=1 seek=1100 conv=notrunc 2>/dev/null
cmp -s ours.exe tampered.exe && { echo "tampering changed nothing" >&2; exit 1; }
openssl x509 -in ours.pem -noout -fingerprint -sha256 | sed 's/.*=//' >thumbprint
printf 'CN=Sonella Test Publisher, O=Sonella Test, C=DE' >subject
