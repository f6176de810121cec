#!/usr/bin/env bash
# Generates the test certificates (DER) into OUTDIR: RSA and SM2 (curve SM2,
# signed with SM3) leaf certificates issued by two test CAs, with validity
# relative to now (valid, expiring within 30 days, expired, not yet valid),
# subjects carrying given name, units, serialNumber and key usage, eight
# certificates for a key with four containers, a few spare ones, and a file
# of garbage bytes. Usage: tools/gen-test-certs.sh OUTDIR
#
# The set is regenerated when the script changed or the last run is older
# than 12 hours, so the "expiring" certificate stays inside its window.
set -euo pipefail
OUT="${1:?usage: gen-test-certs.sh OUTDIR}"
SELF="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
STAMP="$OUT/.generated"
if [ -f "$STAMP" ] && [ "$STAMP" -nt "$SELF" ] && [ -z "$(find "$STAMP" -mmin +720)" ]; then
  exit 0
fi

command -v openssl >/dev/null || { echo "gen-test-certs: openssl not found" >&2; exit 1; }
mkdir -p "$OUT"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

# openssl 3.0 has no -not_before/-not_after on "x509 -req"; "ca" takes
# -startdate/-enddate, so every leaf goes through a throw-away CA database.
cat >ca.cnf <<'EOF'
[ ca ]
default_ca = qca
[ qca ]
dir = .
database = ./index.txt
new_certs_dir = ./issued
serial = ./serial
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
email_in_dn = no
[ anything ]
countryName = optional
organizationName = optional
organizationalUnitName = optional
givenName = optional
serialNumber = optional
commonName = supplied
[ sign ]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ exch ]
basicConstraints = CA:FALSE
keyUsage = critical, keyEncipherment, dataEncipherment, keyAgreement
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ ca_ext ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
EOF
mkdir issued
: >index.txt
openssl rand -hex 8 >serial  # fresh serials per run: no clash with certificates of an older run

ssl() { openssl "$@" 2>"$WORK/ssl.err" || { cat "$WORK/ssl.err" >&2; exit 1; }; }
utc() { date -u -d "$1" +%y%m%d%H%M%SZ; }

ssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out ca_rsa.key
ssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out ca_sm2.key
ssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa_a.key
ssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa_b.key
ssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out sm2_a.key
ssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out sm2_b.key

ssl req -new -x509 -key ca_rsa.key -sha256 -days 3650 -subj "/C=CN/O=Quendral Test/CN=Quendral Test RSA CA" \
  -config ca.cnf -extensions ca_ext -out ca_rsa.pem
ssl req -new -x509 -key ca_sm2.key -sm3 -days 3650 -subj "/C=CN/O=Quendral Test/CN=Quendral Test SM2 CA" \
  -config ca.cnf -extensions ca_ext -out ca_sm2.pem

# leaf NAME KIND(rsa|sm2) KEY EXT SUBJECT DATES...
# DATES: "-days N" or "-startdate X -enddate Y"
leaf() {
  local name="$1" kind="$2" key="$3" ext="$4" subj="$5"
  shift 5
  local md=sha256 ca=ca_rsa
  if [ "$kind" = sm2 ]; then md=sm3; ca=ca_sm2; fi
  ssl req -new -key "$key" "-$md" -subj "$subj" -out "$name.csr"
  ssl ca -config ca.cnf -batch -notext -preserveDN -md "$md" -cert "$ca.pem" -keyfile "$ca.key" \
    -extfile ca.cnf -extensions "$ext" -in "$name.csr" -out "$name.pem" "$@"
  ssl x509 -in "$name.pem" -outform DER -out "$OUT/$name.der"
}

DN="/C=CN/O=Quendral Test"
leaf rsa_sign rsa rsa_a.key sign "$DN/OU=Unit One/OU=Unit Two/GN=Alice/serialNumber=ID-0001/CN=Quendral RSA Sign" -days 365
leaf rsa_exch rsa rsa_b.key exch "$DN/OU=Unit One/GN=Alice/serialNumber=ID-0001/CN=Quendral RSA Exchange" -days 365
# Its subject contains the whole simple name of rsa_sign: a subject-text search for one hits both.
leaf rsa_sign_twin rsa rsa_a.key sign "$DN/OU=Unit One/CN=Quendral RSA Sign Twin" -days 365
leaf sm2_sign sm2 sm2_a.key sign "$DN/OU=SM Unit/GN=Bob/serialNumber=ID-0002/CN=Quendral SM2 Sign" -days 365
leaf sm2_exch sm2 sm2_b.key exch "$DN/OU=SM Unit/GN=Bob/serialNumber=ID-0002/CN=Quendral SM2 Exchange" -days 365
leaf rsa_expiring rsa rsa_a.key sign "$DN/OU=Unit One/GN=Carol/CN=Quendral RSA Expiring" -days 10
leaf sm2_expiring sm2 sm2_a.key sign "$DN/OU=SM Unit/GN=Carol/CN=Quendral SM2 Expiring" -days 10
leaf rsa_expired rsa rsa_a.key sign "$DN/OU=Unit One/GN=Dave/CN=Quendral RSA Expired" \
  -startdate "$(utc '-400 days')" -enddate "$(utc '-30 days')"
leaf rsa_notyet rsa rsa_b.key exch "$DN/OU=Unit One/GN=Erin/CN=Quendral RSA Not Yet Valid" \
  -startdate "$(utc '+30 days')" -enddate "$(utc '+400 days')"
for c in 1 2 3 4; do
  leaf "multi_c${c}_sign" rsa rsa_a.key sign "$DN/OU=Multi/CN=Quendral Multi C$c Sign" -days 365
  leaf "multi_c${c}_exch" rsa rsa_b.key exch "$DN/OU=Multi/CN=Quendral Multi C$c Exchange" -days 365
done
for n in 01 02 03 04 05 06; do
  leaf "extra_$n" rsa rsa_b.key sign "$DN/OU=Spare/CN=Quendral Extra $n" -days 365
done
leaf sm2_extra_01 sm2 sm2_b.key sign "$DN/OU=Spare/CN=Quendral SM2 Extra 01" -days 365
ssl x509 -in ca_rsa.pem -outform DER -out "$OUT/ca_rsa.der"
ssl x509 -in ca_sm2.pem -outform DER -out "$OUT/ca_sm2.der"

# Not a certificate: starts like a DER sequence, then garbage.
{ printf '\x30\x82\x01\x00'; printf 'this is not a certificate%.0s' 1 2 3 4 5 6 7 8 9 10; } >"$OUT/garbage.der"

touch "$STAMP"
